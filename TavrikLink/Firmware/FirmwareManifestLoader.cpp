#include "TavrikLink/Firmware/FirmwareManifestLoader.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Support/RegularFile.hpp"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <exception>
#include <utility>

namespace tavrik {

namespace {

constexpr qint64 replyBufferSize = 65536;

FirmwareManifestLoader::LoadError loadError(const FirmwareManifestError& error)
{
    return { error.what(), error };
}

FirmwareManifestLoader::LoadError tooLarge(const Url& url, std::int64_t limit)
{
    return { "Firmware download is larger than " + std::to_string(limit) + " bytes: " + url.absoluteString(),
        std::nullopt };
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
    , network(new QNetworkAccessManager(this))
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
    fetch = Fetch { url, limit, nullptr, Scheduler::invalidHandle, {}, std::move(onData), std::move(onError) };
    if (url.isFileUrl()) {
        fetch.timer = scheduler.schedule(std::chrono::milliseconds(0), [this, handle] { readLocalFile(handle); });
    } else if (url.isWebUrl()) {
        startNetworkFetch(handle, fetch);
    } else {
        fetch.timer = scheduler.schedule(std::chrono::milliseconds(0), [this, handle] {
            fetches[handle].timer = Scheduler::invalidHandle;
            fail(handle, loadError(FirmwareManifestError::unsupportedURL(fetches[handle].url)));
        });
    }
}

void FirmwareManifestLoader::startNetworkFetch(Handle handle, Fetch& fetch)
{
    QNetworkRequest request(toQUrl(fetch.url));
    // Each redirect is checked here: it must stay on http(s) and never go from https to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(maximumRedirects);
    QNetworkReply* reply = network->get(request);
    reply->setReadBufferSize(replyBufferSize);
    fetch.reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, handle, reply] { checkHeaders(handle, reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, handle, reply] { readAvailable(handle, reply); });
    connect(reply, &QNetworkReply::redirected, this,
        [this, handle, reply](const QUrl& target) { checkRedirect(handle, reply, target); });
    connect(reply, &QNetworkReply::finished, this, [this, handle, reply] { replyFinished(handle, reply); });
    armTimeout(handle);
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

FirmwareManifestLoader::Fetch* FirmwareManifestLoader::fetchFor(Handle handle, const QNetworkReply* reply)
{
    const auto found = fetches.find(handle);
    if (found == fetches.end() || found->second.reply != reply) {
        return nullptr;
    }
    return &found->second;
}

void FirmwareManifestLoader::checkHeaders(Handle handle, QNetworkReply* reply)
{
    Fetch* fetch = fetchFor(handle, reply);
    if (fetch == nullptr) {
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() >= 400) {
        fail(handle, loadError(FirmwareManifestError::http(status.toInt(), fetch->url)));
        return;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool success = status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
    if (success && length.isValid() && length.toLongLong() > fetch->limit) {
        fail(handle, tooLarge(fetch->url, fetch->limit));
    }
}

void FirmwareManifestLoader::readAvailable(Handle handle, QNetworkReply* reply)
{
    Fetch* fetch = fetchFor(handle, reply);
    if (fetch == nullptr) {
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool success = status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
    while (reply->bytesAvailable() > 0) {
        const QByteArray bytes = reply->read(replyBufferSize);
        if (!success) {
            // The body of a refused answer is never kept.
            continue;
        }
        if (static_cast<std::int64_t>(fetch->body.size() + static_cast<std::size_t>(bytes.size())) > fetch->limit) {
            fail(handle, tooLarge(fetch->url, fetch->limit));
            return;
        }
        fetch->body.insert(fetch->body.end(), bytes.begin(), bytes.end());
    }
    armTimeout(handle);
}

void FirmwareManifestLoader::checkRedirect(Handle handle, QNetworkReply* reply, const QUrl& target)
{
    Fetch* fetch = fetchFor(handle, reply);
    if (fetch == nullptr) {
        return;
    }
    const bool downgrade = reply->url().scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http");
    if (!isWebScheme(target) || downgrade) {
        failUnsupported(handle, target);
        return;
    }
    armTimeout(handle);
    emit reply->redirectAllowed();
}

void FirmwareManifestLoader::failUnsupported(Handle handle, const QUrl& target)
{
    const auto url = Url::parse(target.toString(QUrl::FullyEncoded).toStdString());
    fail(handle,
        url ? loadError(FirmwareManifestError::unsupportedURL(*url))
            : LoadError { "Unsupported firmware URL: " + target.toString().toStdString(), std::nullopt });
}

void FirmwareManifestLoader::replyFinished(Handle handle, QNetworkReply* reply)
{
    Fetch* fetch = fetchFor(handle, reply);
    if (fetch == nullptr) {
        return;
    }
    readAvailable(handle, reply);
    fetch = fetchFor(handle, reply);
    if (fetch == nullptr) {
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QByteArray location = reply->rawHeader("Location");
    const QUrl target = reply->url().resolved(QUrl::fromEncoded(location));
    const bool redirect = status.isValid() && status.toInt() >= 300 && status.toInt() <= 399;
    if (redirect && !location.isEmpty() && !isWebScheme(target)) {
        // Qt does not even offer a redirect off the web; say where it pointed.
        failUnsupported(handle, target);
    } else if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        fail(handle, loadError(FirmwareManifestError::http(status.toInt(), fetch->url)));
    } else if (reply->error() != QNetworkReply::NoError) {
        fail(handle, { reply->errorString().toStdString(), std::nullopt });
    } else {
        succeed(handle);
    }
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
    if (QNetworkReply* reply = fetch.reply) {
        fetch.reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
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
