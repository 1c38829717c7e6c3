#include "TavrikLink/Firmware/FirmwareManifestLoader.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Support/RegularFile.hpp"

#include <QFile>
#include <QUrl>

#include <exception>
#include <memory>
#include <utility>

namespace tavrik {

namespace {

FirmwareManifestLoader::LoadError loadError(const FirmwareManifestError& error)
{
    return { error.what(), error };
}

FirmwareManifestLoader::LoadError tooLarge(const Url& url, std::int64_t limit)
{
    return { "Firmware download is larger than " + std::to_string(limit) + " bytes: " + url.absoluteString(),
        std::nullopt };
}

FirmwareManifestLoader::LoadError oversizedHeader(const Url& url)
{
    return { "Firmware server sent an oversized header: " + url.absoluteString(), std::nullopt };
}

FirmwareManifestLoader::LoadError malformedReply(const Url& url)
{
    return { "Firmware server sent a malformed reply: " + url.absoluteString(), std::nullopt };
}

// All a reply may hold besides its body: the header, and chunk framing far above what a server
// that sends chunks of any sensible size adds.
std::int64_t replyLimitFor(std::int64_t bodyLimit)
{
    return bodyLimit + bodyLimit / 4 + BoundedHttpGet::headerSizeLimit;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QUrl toQUrl(const Url& url)
{
    return QUrl(QString::fromStdString(url.absoluteString()));
}

bool isWebScheme(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

} // namespace

FirmwareManifestLoader::FirmwareManifestLoader(Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , scheduler(scheduler)
{
}

FirmwareManifestLoader::~FirmwareManifestLoader()
{
    while (!fetches.empty()) {
        takeFetch(fetches.begin()->first);
    }
    while (!deadlines.empty()) {
        endDeadline(deadlines.begin()->first);
    }
}

const Url& FirmwareManifestLoader::publishedChannelURL()
{
    return FirmwareCatalogDecoder::publishedChannelURL();
}

FirmwareManifestLoader::Handle FirmwareManifestLoader::load(const Url& channelURL, CatalogCompletion completion)
{
    const Handle handle = nextHandle++;
    armDeadline(handle, lookupDeadline);
    completion = [this, handle, completion = std::move(completion)](CatalogResult result) {
        endDeadline(handle);
        completion(std::move(result));
    };
    auto finishWithError = [completion](LoadError error) { completion({ std::nullopt, std::move(error) }); };
    startFetch(
        handle, channelURL, manifestSizeLimit,
        [this, handle, channelURL, completion, finishWithError](Data channelData) {
            std::optional<Url> releaseURL;
            try {
                releaseURL = FirmwareCatalogDecoder::releaseURL(channelData, channelURL);
                if (!releaseURL) {
                    auto catalog = FirmwareCatalogDecoder::decode(channelData, channelURL, std::nullopt);
                    completion({ std::move(catalog), std::nullopt });
                    return;
                }
            } catch (const FirmwareManifestError& error) {
                finishWithError(loadError(error));
                return;
            } catch (const std::exception& error) {
                finishWithError({ error.what(), std::nullopt });
                return;
            }
            startFetch(
                handle, *releaseURL, manifestSizeLimit,
                [channelData = std::move(channelData), channelURL, completion, finishWithError](Data releaseData) {
                    try {
                        auto catalog = FirmwareCatalogDecoder::decode(channelData, channelURL, releaseData);
                        completion({ std::move(catalog), std::nullopt });
                    } catch (const FirmwareManifestError& error) {
                        finishWithError(loadError(error));
                    } catch (const std::exception& error) {
                        finishWithError({ error.what(), std::nullopt });
                    }
                },
                finishWithError);
        },
        finishWithError);
    return handle;
}

FirmwareManifestLoader::Handle FirmwareManifestLoader::validatedData(
    const Url& url, std::int64_t sizeBytes, const std::string& sha256, DataCompletion completion)
{
    const Handle handle = nextHandle++;
    armDeadline(handle, downloadDeadline);
    completion = [this, handle, completion = std::move(completion)](DataResult result) {
        endDeadline(handle);
        completion(std::move(result));
    };
    startFetch(
        handle, url, imageSizeLimit,
        [url, sizeBytes, expected = text::lowercased(sha256), completion](Data data) {
            const auto received = static_cast<std::int64_t>(data.size());
            if (received != sizeBytes) {
                completion({ std::nullopt, loadError(FirmwareManifestError::size(url, sizeBytes, received)) });
            } else if (FirmwareIntegrity::sha256(data) != expected) {
                completion({ std::nullopt, loadError(FirmwareManifestError::checksum(url)) });
            } else {
                completion({ std::move(data), std::nullopt });
            }
        },
        [completion](LoadError error) {
            completion({ std::nullopt, std::move(error) });
        });
    return handle;
}

void FirmwareManifestLoader::cancel(Handle handle)
{
    if (fetches.count(handle) != 0) {
        takeFetch(handle);
    }
    endDeadline(handle);
}

FirmwareUploadService::Download FirmwareManifestLoader::downloadOperation()
{
    QPointer<FirmwareManifestLoader> loader(this);
    return [loader](const FirmwareAsset& asset,
               FirmwareUploadService::DownloadCompletion completion) -> std::function<void()> {
        if (!loader) {
            return {};
        }
        const Handle handle = loader->validatedData(
            asset.url, asset.sizeBytes, asset.sha256, [completion = std::move(completion)](DataResult result) {
                completion({ std::move(result.data), result.error ? result.error->description : std::string() });
            });
        return [loader, handle] {
            if (loader) {
                loader->cancel(handle);
            }
        };
    };
}

void FirmwareManifestLoader::startFetch(
    Handle handle, const Url& url, std::int64_t limit, DataHandler onData, ErrorHandler onError)
{
    Fetch& fetch = fetches[handle];
    fetch = Fetch { url, limit, nullptr, 0, Scheduler::invalidHandle, {}, std::move(onData), std::move(onError) };
    if (url.isFileUrl()) {
        fetch.timer = scheduler.schedule(std::chrono::milliseconds(0), [this, handle] { readLocalFile(handle); });
    } else if (url.isWebUrl()) {
        startRequest(handle, toQUrl(url));
        armTimeout(handle);
    } else {
        fetch.timer = scheduler.schedule(std::chrono::milliseconds(0), [this, handle] {
            fetches[handle].timer = Scheduler::invalidHandle;
            fail(handle, loadError(FirmwareManifestError::unsupportedURL(fetches[handle].url)));
        });
    }
}

void FirmwareManifestLoader::startRequest(Handle handle, const QUrl& target)
{
    Fetch& fetch = fetches[handle];
    BoundedHttpGet::Handlers handlers;
    // The request is known to the handlers only once constructed; until then nothing can arrive.
    auto self = std::make_shared<BoundedHttpGet*>(nullptr);
    handlers.head = [this, handle, self](const BoundedHttpGet::Head& head) { checkHead(handle, *self, head); };
    handlers.body = [this, handle, self](const QByteArray& bytes) { readBody(handle, *self, bytes); };
    handlers.finished = [this, handle, self] {
        if (fetchFor(handle, *self) != nullptr) {
            succeed(handle);
        }
    };
    handlers.failed = [this, handle, self](BoundedHttpGet::Failure failure, std::string text) {
        requestFailed(handle, *self, failure, std::move(text));
    };
    handlers.activity = [this, handle, self] {
        if (fetchFor(handle, *self) != nullptr) {
            armTimeout(handle);
        }
    };
    auto* request = new BoundedHttpGet(target, replyLimitFor(fetch.limit), std::move(handlers), this);
    *self = request;
    fetch.request = request;
}

void FirmwareManifestLoader::readLocalFile(Handle handle)
{
    Fetch& fetch = fetches[handle];
    fetch.timer = Scheduler::invalidHandle;
    // Only a plain file: a pipe would block the window and a device never end.
    const QString path = QUrl(QString::fromStdString(fetch.url.absoluteString())).toLocalFile();
    RegularFile::Contents contents = RegularFile::readWhole(
        QFile::encodeName(path).toStdString(), static_cast<std::uint64_t>(fetch.limit), RegularFile::Links::follow);
    if (contents.problem == RegularFile::Problem::tooLarge) {
        fail(handle, tooLarge(fetch.url, fetch.limit));
        return;
    }
    if (!contents.bytes) {
        fail(handle, { contents.reason, std::nullopt });
        return;
    }
    fetch.body = std::move(*contents.bytes);
    succeed(handle);
}

FirmwareManifestLoader::Fetch* FirmwareManifestLoader::fetchFor(Handle handle, BoundedHttpGet* request)
{
    const auto found = fetches.find(handle);
    if (found == fetches.end() || request == nullptr || found->second.request != request) {
        return nullptr;
    }
    return &found->second;
}

void FirmwareManifestLoader::checkHead(Handle handle, BoundedHttpGet* request, const BoundedHttpGet::Head& head)
{
    Fetch* fetch = fetchFor(handle, request);
    if (fetch == nullptr) {
        return;
    }
    if (isRedirect(head.status) && !head.location.isEmpty()) {
        // Each redirect is checked here: it must stay on http(s) and never go from https to http.
        const QUrl target = request->url().resolved(QUrl::fromEncoded(head.location));
        const bool downgrade
            = request->url().scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http");
        if (!isWebScheme(target) || downgrade) {
            failUnsupported(handle, target);
        } else if (++fetch->redirects > maximumRedirects) {
            fail(handle, { "Firmware server redirected too many times: " + fetch->url.absoluteString(), std::nullopt });
        } else {
            fetch->request = nullptr;
            request->abort();
            request->deleteLater();
            startRequest(handle, target);
            armTimeout(handle);
        }
        return;
    }
    if (head.status < 200 || head.status > 299) {
        fail(handle, loadError(FirmwareManifestError::http(head.status, fetch->url)));
        return;
    }
    if (head.contentLength && *head.contentLength > fetch->limit) {
        fail(handle, tooLarge(fetch->url, fetch->limit));
    }
}

void FirmwareManifestLoader::readBody(Handle handle, BoundedHttpGet* request, const QByteArray& bytes)
{
    Fetch* fetch = fetchFor(handle, request);
    if (fetch == nullptr) {
        return;
    }
    if (static_cast<std::int64_t>(fetch->body.size()) + bytes.size() > fetch->limit) {
        fail(handle, tooLarge(fetch->url, fetch->limit));
        return;
    }
    fetch->body.insert(fetch->body.end(), bytes.begin(), bytes.end());
}

void FirmwareManifestLoader::requestFailed(
    Handle handle, BoundedHttpGet* request, BoundedHttpGet::Failure failure, std::string text)
{
    Fetch* fetch = fetchFor(handle, request);
    if (fetch == nullptr) {
        return;
    }
    switch (failure) {
    case BoundedHttpGet::Failure::oversizedHeader:
        fail(handle, oversizedHeader(fetch->url));
        break;
    case BoundedHttpGet::Failure::malformed:
        fail(handle, malformedReply(fetch->url));
        break;
    case BoundedHttpGet::Failure::oversizedReply:
        fail(handle, tooLarge(fetch->url, fetch->limit));
        break;
    case BoundedHttpGet::Failure::connection:
        fail(handle, { std::move(text), std::nullopt });
        break;
    }
}

void FirmwareManifestLoader::failUnsupported(Handle handle, const QUrl& target)
{
    const auto url = Url::parse(target.toString(QUrl::FullyEncoded).toStdString());
    fail(handle,
        url ? loadError(FirmwareManifestError::unsupportedURL(*url))
            : LoadError { "Unsupported firmware URL: " + target.toString().toStdString(), std::nullopt });
}

void FirmwareManifestLoader::armTimeout(Handle handle)
{
    Fetch& fetch = fetches[handle];
    scheduler.cancel(fetch.timer);
    fetch.timer = scheduler.schedule(inactivityTimeout, [this, handle] {
        fetches[handle].timer = Scheduler::invalidHandle;
        fail(handle, { "The request timed out.", std::nullopt });
    });
}

void FirmwareManifestLoader::armDeadline(Handle handle, std::chrono::milliseconds deadline)
{
    deadlines[handle] = scheduler.schedule(deadline, [this, handle] {
        deadlines.erase(handle);
        if (fetches.count(handle) != 0) {
            fail(handle, { "The request timed out.", std::nullopt });
        }
    });
}

void FirmwareManifestLoader::endDeadline(Handle handle)
{
    const auto found = deadlines.find(handle);
    if (found != deadlines.end()) {
        scheduler.cancel(found->second);
        deadlines.erase(found);
    }
}

FirmwareManifestLoader::Fetch FirmwareManifestLoader::takeFetch(Handle handle)
{
    const auto found = fetches.find(handle);
    Fetch fetch = std::move(found->second);
    fetches.erase(found);
    if (fetch.timer != Scheduler::invalidHandle) {
        scheduler.cancel(fetch.timer);
    }
    if (BoundedHttpGet* request = fetch.request) {
        fetch.request = nullptr;
        request->abort();
        request->deleteLater();
    }
    return fetch;
}

void FirmwareManifestLoader::succeed(Handle handle)
{
    Fetch fetch = takeFetch(handle);
    fetch.onData(std::move(fetch.body));
}

void FirmwareManifestLoader::fail(Handle handle, LoadError error)
{
    Fetch fetch = takeFetch(handle);
    fetch.onError(std::move(error));
}

} // namespace tavrik
