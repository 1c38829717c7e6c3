#pragma once

#include "TavrikCore/Firmware/FirmwareCatalog.hpp"
#include "TavrikCore/Firmware/FirmwareManifestError.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Scheduler.hpp"
#include "TavrikCore/Support/Url.hpp"
#include "TavrikLink/Firmware/BoundedHttpGet.hpp"
#include "TavrikPlatform/Firmware/FirmwareUploadService.hpp"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tavrik {

// Fetches firmware manifests and images from a local file or over http(s): the channel manifest,
// the release manifest it may name, and one image checked against its size and SHA-256. Headers and
// bodies are read as they stream in and refused once they pass their limits, so a hostile server
// cannot make the application buffer without bound. Results arrive from the event loop, never
// inside the call.
class FirmwareManifestLoader final : public QObject {
    Q_OBJECT
public:
    using Handle = std::uint64_t;
    static constexpr Handle invalidHandle = 0;

    struct LoadError {
        // The user text.
        std::string description;
        // Set when the manifest, the server's status, the size or the checksum was refused.
        std::optional<FirmwareManifestError> manifestError;
    };
    struct CatalogResult {
        std::optional<FirmwareCatalog> catalog;
        std::optional<LoadError> error;
    };
    struct DataResult {
        std::optional<Data> data;
        std::optional<LoadError> error;
    };
    using CatalogCompletion = std::function<void(CatalogResult)>;
    using DataCompletion = std::function<void(DataResult)>;

    static constexpr std::int64_t manifestSizeLimit = 1048576;
    static constexpr std::int64_t imageSizeLimit = 16777216;
    static constexpr int maximumRedirects = 10;
    static constexpr std::chrono::milliseconds defaultTimeout { 60000 };
    // However steadily a host sends, a lookup (both manifests) and a download end by these.
    static constexpr std::chrono::milliseconds defaultLookupDeadline { 120000 };
    static constexpr std::chrono::milliseconds defaultDownloadDeadline { 900000 };

    explicit FirmwareManifestLoader(Scheduler& scheduler, QObject* parent = nullptr);
    ~FirmwareManifestLoader() override;

    // The default channel: the stable channel on the release host.
    static const Url& publishedChannelURL();

    // The channel manifest, then the release manifest it names, decoded into a catalog.
    Handle load(const Url& channelURL, CatalogCompletion completion);
    // One image, given only when its length and SHA-256 (any letter case) match.
    Handle validatedData(const Url& url, std::int64_t sizeBytes, const std::string& sha256, DataCompletion completion);
    // The completion of a cancelled operation is never called; unknown handles are ignored.
    void cancel(Handle handle);

    // How long a fetch may go without receiving anything before it fails.
    void setTimeout(std::chrono::milliseconds timeout) { inactivityTimeout = timeout; }
    // How long a lookup and a download may take in all, for operations started from now on.
    void setDeadlines(std::chrono::milliseconds lookup, std::chrono::milliseconds download)
    {
        lookupDeadline = lookup;
        downloadDeadline = download;
    }

    // The upload service's download: `validatedData` of the asset's URL, size and checksum.
    FirmwareUploadService::Download downloadOperation();

private:
    using DataHandler = std::function<void(Data)>;
    using ErrorHandler = std::function<void(LoadError)>;

    // The one fetch an operation is waiting for.
    struct Fetch {
        Url url;
        std::int64_t limit = 0;
        QPointer<BoundedHttpGet> request;
        int redirects = 0;
        Scheduler::Handle timer = Scheduler::invalidHandle;
        Data body;
        DataHandler onData;
        ErrorHandler onError;
    };

    void startFetch(Handle handle, const Url& url, std::int64_t limit, DataHandler onData, ErrorHandler onError);
    void startRequest(Handle handle, const QUrl& target);
    void readLocalFile(Handle handle);
    void checkHead(Handle handle, BoundedHttpGet* request, const BoundedHttpGet::Head& head);
    void readBody(Handle handle, BoundedHttpGet* request, const QByteArray& bytes);
    void requestFailed(Handle handle, BoundedHttpGet* request, BoundedHttpGet::Failure failure, std::string text);
    void failUnsupported(Handle handle, const QUrl& target);
    void armTimeout(Handle handle);
    // The whole operation fails once `deadline` has passed; ended with endDeadline.
    void armDeadline(Handle handle, std::chrono::milliseconds deadline);
    void endDeadline(Handle handle);
    Fetch* fetchFor(Handle handle, BoundedHttpGet* request);
    // Ends the fetch (aborting its request, if any) and then calls its handler.
    void succeed(Handle handle);
    void fail(Handle handle, LoadError error);
    Fetch takeFetch(Handle handle);

    Scheduler& scheduler;
    std::map<Handle, Fetch> fetches;
    std::map<Handle, Scheduler::Handle> deadlines;
    Handle nextHandle = 1;
    std::chrono::milliseconds inactivityTimeout = defaultTimeout;
    std::chrono::milliseconds lookupDeadline = defaultLookupDeadline;
    std::chrono::milliseconds downloadDeadline = defaultDownloadDeadline;
};

} // namespace tavrik
