#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikLink/Firmware/FirmwareManifestLoader.hpp"
#include "TavrikPlatform/Firmware/FirmwareUploadService.hpp"
#include "tests/firmwareloader/EndlessHeaderServer.hpp"
#include "tests/firmwareloader/TricklingHttpServer.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/qt/LoopbackHttpServer.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using Response = LoopbackHttpServer::Response;
using CatalogResult = FirmwareManifestLoader::CatalogResult;
using DataResult = FirmwareManifestLoader::DataResult;

const QByteArray image = QByteArray("tavrik firmware image ").repeated(40);

std::string imageSha256()
{
    const Data bytes(image.begin(), image.end());
    return FirmwareIntegrity::sha256(bytes);
}

QByteArray channelManifest(const QByteArray& manifestUrl)
{
    return R"({"channel":"stable","currentVersion":"1.4.0","manifestUrl":")" + manifestUrl + R"("})";
}

QByteArray releaseManifest(const QByteArray& binaryUrl = "fw.bin", const std::string& sha256 = imageSha256())
{
    return R"({"version":"1.4.0","binaryAssets":{"m5stick-c":{"url":")" + binaryUrl + R"(","sizeBytes":)"
        + QByteArray::number(image.size()) + R"(,"sha256":")" + QByteArray::fromStdString(sha256) + R"("}}})";
}

Url url(const QString& text)
{
    return *Url::parse(text.toStdString());
}

struct Fixture {
    ManualScheduler scheduler;
    LoopbackHttpServer server;
    FirmwareManifestLoader loader { scheduler };

    Fixture()
    {
        server.routeBody("/channels/stable.json", channelManifest("../releases/1.4.0.json"));
        server.routeBody("/releases/1.4.0.json", releaseManifest());
        server.routeBody("/releases/fw.bin", image);
    }

    // Runs the event loop (and whatever the loader scheduled for now) until the result arrives.
    template <typename Result>
    Result wait(std::optional<Result>& slot)
    {
        const bool arrived = processEventsUntil([&] {
            scheduler.runDue();
            return slot.has_value();
        });
        EXPECT_TRUE(arrived) << "no result before the deadline";
        return slot.value_or(Result {});
    }

    CatalogResult load(const Url& channelURL)
    {
        std::optional<CatalogResult> result;
        loader.load(channelURL, [&](CatalogResult r) { result = std::move(r); });
        EXPECT_FALSE(result) << "results arrive from the event loop";
        return wait(result);
    }

    DataResult download(const Url& imageURL, std::int64_t size, const std::string& sha256)
    {
        std::optional<DataResult> result;
        loader.validatedData(imageURL, size, sha256, [&](DataResult r) { result = std::move(r); });
        return wait(result);
    }
};

std::string errorText(const CatalogResult& result)
{
    return result.error ? result.error->description : "(no error)";
}

TEST(FirmwareManifestLoaderTests, LoadsTheChannelAndItsReleaseOverHttp)
{
    Fixture fixture;
    const Url channelURL = url(fixture.server.url("/channels/stable.json"));
    const CatalogResult result = fixture.load(channelURL);
    ASSERT_TRUE(result.catalog) << errorText(result);
    EXPECT_EQ(result.catalog->version, "1.4.0");
    EXPECT_EQ(result.catalog->sourceURL, channelURL);
    EXPECT_EQ(result.catalog->manifestURL, url(fixture.server.url("/releases/1.4.0.json")));
    EXPECT_EQ(result.catalog->sourceDescription(), "Published HTTPS");
    const FirmwareAsset asset = result.catalog->asset(FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(asset.url, url(fixture.server.url("/releases/fw.bin")));
    EXPECT_EQ(fixture.server.requests(), (std::vector<QString> { "/channels/stable.json", "/releases/1.4.0.json" }));
}

TEST(FirmwareManifestLoaderTests, FollowsRedirectsOnTheWebAndReportsTheRequestedURL)
{
    Fixture fixture;
    fixture.server.routeRedirect("/stable", 302, "/channels/stable.json");
    const CatalogResult result = fixture.load(url(fixture.server.url("/stable")));
    ASSERT_TRUE(result.catalog) << errorText(result);
    // Relative links resolve against the URL the caller asked for, as the catalog records it.
    EXPECT_EQ(result.catalog->sourceURL, url(fixture.server.url("/stable")));
    EXPECT_EQ(fixture.server.requests(),
        (std::vector<QString> { "/stable", "/channels/stable.json", "/releases/1.4.0.json" }));

    fixture.server.routeRedirect("/moved", 301, "/gone.json");
    const CatalogResult gone = fixture.load(url(fixture.server.url("/moved")));
    EXPECT_EQ(errorText(gone), "Firmware server returned HTTP 404 for " + fixture.server.url("/moved").toStdString());
}

TEST(FirmwareManifestLoaderTests, RefusesBadAnswersAndLinksThatLeaveTheWeb)
{
    struct Case {
        const char* name;
        QString path;
        std::optional<Response> response;
        std::string expected;
    };
    Fixture fixture;
    const std::string base = fixture.server.url("").toStdString();
    const Case cases[] = {
        { "missing channel", "/missing.json", std::nullopt,
            "Firmware server returned HTTP 404 for " + base + "/missing.json" },
        { "server error", "/broken.json", Response { 500, "oops", {} },
            "Firmware server returned HTTP 500 for " + base + "/broken.json" },
        { "empty 204", "/empty.json", Response { 204, "", {} }, "Malformed channel manifest: " },
        { "release names a local file", "/local-release.json",
            Response { 200, channelManifest("file:///etc/release.json"), {} },
            "Unsupported firmware URL: file:///etc/release.json" },
        { "asset names a local file", "/local-asset.json",
            Response { 200, R"({"channel":"stable",)" + releaseManifest("file:///tmp/fw.bin").mid(1), {} },
            "Unsupported firmware URL: file:///tmp/fw.bin" },
        { "redirect to a local file", "/to-file.json", Response { 302, "", { { "Location", "file:///etc/passwd" } } },
            "Unsupported firmware URL: file:///etc/passwd" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.response) {
            fixture.server.route(c.path, *c.response);
        }
        const CatalogResult result = fixture.load(url(fixture.server.url(c.path)));
        EXPECT_FALSE(result.catalog);
        EXPECT_EQ(errorText(result).substr(0, c.expected.size()), c.expected);
    }

    const CatalogResult ftp = fixture.load(url("ftp://example.com/stable.json"));
    EXPECT_EQ(errorText(ftp), "Unsupported firmware URL: ftp://example.com/stable.json");
    ASSERT_TRUE(ftp.error && ftp.error->manifestError);
    EXPECT_EQ(ftp.error->manifestError->kind(), FirmwareManifestError::Kind::unsupportedURL);
}

TEST(FirmwareManifestLoaderTests, ABodyOverTheLimitIsRefusedWhileItStreams)
{
    Fixture fixture;
    const std::string limitText = "Firmware download is larger than 1048576 bytes: ";

    fixture.server.route("/endless.json", Response { 200, {}, {}, Response::Mode::endless });
    const CatalogResult endless = fixture.load(url(fixture.server.url("/endless.json")));
    EXPECT_EQ(errorText(endless), limitText + fixture.server.url("/endless.json").toStdString());
    // The loader hung up instead of reading on.
    EXPECT_TRUE(processEventsUntil([&] { return fixture.server.closedEndlessConnections() == 1; }));

    // A declared length over the limit is refused without waiting for the body.
    fixture.server.route("/declared.json", Response { 200, "{", { { "Content-Length", "2000000" } } });
    const CatalogResult declared = fixture.load(url(fixture.server.url("/declared.json")));
    EXPECT_EQ(errorText(declared), limitText + fixture.server.url("/declared.json").toStdString());

    // A local file is held to the same limit.
    QTemporaryDir dir;
    QFile big(dir.filePath("channel.json"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(FirmwareManifestLoader::manifestSizeLimit + 1, ' '));
    big.close();
    const Url fileURL = url(QUrl::fromLocalFile(big.fileName()).toString());
    EXPECT_EQ(errorText(fixture.load(fileURL)), limitText + fileURL.absoluteString());
}

TEST(FirmwareManifestLoaderTests, ASilentServerTimesOutAndACancelledLoadNeverAnswers)
{
    Fixture fixture;
    fixture.loader.setTimeout(std::chrono::seconds(20));
    fixture.server.route("/slow.json", Response { 200, {}, {}, Response::Mode::stall });

    std::optional<CatalogResult> result;
    fixture.loader.load(url(fixture.server.url("/slow.json")), [&](CatalogResult r) { result = std::move(r); });
    ASSERT_TRUE(processEventsUntil([&] { return fixture.server.requests().size() == 1; }));
    fixture.scheduler.advance(std::chrono::seconds(19));
    EXPECT_FALSE(result);
    fixture.scheduler.advance(std::chrono::seconds(1));
    EXPECT_EQ(errorText(fixture.wait(result)), "The request timed out.");

    bool called = false;
    const auto handle = fixture.loader.load(url(fixture.server.url("/slow.json")), [&](CatalogResult) { called = true; });
    ASSERT_TRUE(processEventsUntil([&] { return fixture.server.requests().size() == 2; }));
    fixture.loader.cancel(handle);
    fixture.scheduler.advance(std::chrono::minutes(5));
    EXPECT_FALSE(called);
    EXPECT_EQ(fixture.scheduler.pendingCount(), 0u);
}

// A host that sends a byte a second keeps restarting the idle timer; the lookup and each download
// still end at their overall deadline.
TEST(FirmwareManifestLoaderTests, AHostThatTricklesIsGivenUpAtTheDeadline)
{
    using namespace std::chrono_literals;
    struct Case {
        const char* what;
        std::function<void(Fixture&, const TricklingHttpServer&, std::function<void(std::string)>)> start;
        int deadlineSeconds;
    };
    const auto failureText = [](const std::optional<FirmwareManifestLoader::LoadError>& error) {
        return error ? error->description : std::string("(no error)");
    };
    const Case cases[] = {
        { "the channel trickles",
            [&](Fixture& fixture, const TricklingHttpServer& host, std::function<void(std::string)> done) {
                fixture.loader.load(
                    url(host.url("/channel.json")), [=](CatalogResult result) { done(failureText(result.error)); });
            },
            20 },
        { "the release trickles after a quick channel",
            [&](Fixture& fixture, const TricklingHttpServer& host, std::function<void(std::string)> done) {
                fixture.server.routeBody("/quick.json", channelManifest(host.url("/release.json").toUtf8()));
                fixture.loader.load(url(fixture.server.url("/quick.json")),
                    [=](CatalogResult result) { done(failureText(result.error)); });
            },
            20 },
        { "an image trickles",
            [&](Fixture& fixture, const TricklingHttpServer& host, std::function<void(std::string)> done) {
                fixture.loader.validatedData(url(host.url("/fw.bin")), 100000, imageSha256(),
                    [=](DataResult result) { done(failureText(result.error)); });
            },
            30 },
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.what);
        Fixture fixture;
        TricklingHttpServer host;
        fixture.loader.setDeadlines(20s, 30s);
        std::optional<std::string> failure;
        int endedAt = 0;
        entry.start(fixture, host, [&](std::string text) { failure = std::move(text); });
        ASSERT_TRUE(processEventsUntil([&] {
            fixture.scheduler.runDue();
            return host.waiting() == 1;
        }));
        for (int second = 1; second <= 120 && !failure; ++second) {
            ASSERT_TRUE(host.trickle());
            ASSERT_TRUE(processEventsUntil([&] { return host.flushed(); }));
            QCoreApplication::processEvents();
            fixture.scheduler.advance(1s);
            endedAt = second;
        }
        EXPECT_EQ(endedAt, entry.deadlineSeconds);
        EXPECT_EQ(failure, "The request timed out.");
        EXPECT_GE(host.sent(), entry.deadlineSeconds - 1);
        // The loader hung up.
        EXPECT_TRUE(processEventsUntil([&] { return host.hungUp() == 1; }));
        EXPECT_EQ(fixture.scheduler.pendingCount(), 0U);
    }
}

// A host whose header never ends is refused once the header passes what any real server sends,
// both for the lookup and for a download; the loader hangs up instead of reading on.
TEST(FirmwareManifestLoaderTests, AHeaderWithoutEndIsRefusedWhileItStreams)
{
    using Shape = EndlessHeaderServer::Shape;
    const struct {
        const char* what;
        Shape shape;
    } shapes[] = {
        { "many header lines", Shape::manyLines },
        { "one header line without end", Shape::oneEndlessLine },
        { "a status line without end", Shape::endlessStatusLine },
    };
    for (const auto& entry : shapes) {
        for (const bool download : { false, true }) {
            SCOPED_TRACE(std::string(entry.what) + (download ? ", download" : ", lookup"));
            Fixture fixture;
            EndlessHeaderServer host(entry.shape);
            const QString target = host.url(download ? "/fw.bin" : "/channel.json");
            std::optional<std::string> failure;
            if (download) {
                fixture.loader.validatedData(url(target), image.size(), imageSha256(),
                    [&](DataResult result) { failure = result.error ? result.error->description : "(no error)"; });
            } else {
                fixture.loader.load(url(target), [&](CatalogResult result) { failure = errorText(result); });
            }
            EXPECT_EQ(fixture.wait(failure), "Firmware server sent an oversized header: " + target.toStdString());
            EXPECT_TRUE(processEventsUntil([&] { return host.hungUp() == 1; }));
            EXPECT_LT(host.written(), 32 * 1024 * 1024);
        }
    }
}

// Bodies sent in chunks are read whole; framing that contradicts itself is refused.
TEST(FirmwareManifestLoaderTests, ChunkedAnswersAreReadAndBrokenFramingIsRefused)
{
    Fixture fixture;
    const QByteArray manifest = channelManifest("../releases/1.4.0.json");
    const QByteArray half = manifest.left(manifest.size() / 2);
    const QByteArray rest = manifest.mid(half.size());
    const QByteArray chunked = QByteArray::number(half.size(), 16) + ";note=1\r\n" + half + "\r\n"
        + QByteArray::number(rest.size(), 16) + "\r\n" + rest + "\r\n0\r\nX-Trailer: 1\r\n\r\n";
    const std::pair<QByteArray, QByteArray> chunks { "Transfer-Encoding", "chunked" };
    fixture.server.route("/channels/chunked.json", Response { 200, chunked, { chunks } });
    const CatalogResult result = fixture.load(url(fixture.server.url("/channels/chunked.json")));
    ASSERT_TRUE(result.catalog) << errorText(result);
    EXPECT_EQ(result.catalog->version, "1.4.0");

    const struct {
        const char* what;
        Response response;
    } broken[] = {
        { "a chunk size that is no number", Response { 200, "zz\r\n{}\r\n0\r\n\r\n", { chunks } } },
        { "a chunk without its line end", Response { 200, "2\r\n{}xx0\r\n\r\n", { chunks } } },
        { "two lengths that disagree", Response { 200, "{}", { { "Content-Length", "2" }, { "Content-Length", "3" } } } },
    };
    for (const auto& entry : broken) {
        SCOPED_TRACE(entry.what);
        fixture.server.route("/broken.json", entry.response);
        const std::string target = fixture.server.url("/broken.json").toStdString();
        EXPECT_EQ(errorText(fixture.load(url(QString::fromStdString(target)))),
            "Firmware server sent a malformed reply: " + target);
    }
}

TEST(FirmwareManifestLoaderTests, AnImageMustMatchItsSizeAndChecksum)
{
    Fixture fixture;
    const Url imageURL = url(fixture.server.url("/releases/fw.bin"));
    std::string upper = imageSha256();
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const DataResult good = fixture.download(imageURL, image.size(), upper);
    ASSERT_TRUE(good.data);
    EXPECT_EQ(*good.data, Data(image.begin(), image.end()));

    const DataResult wrongSum = fixture.download(imageURL, image.size(), std::string(64, '0'));
    EXPECT_FALSE(wrongSum.data);
    ASSERT_TRUE(wrongSum.error);
    EXPECT_EQ(wrongSum.error->description, "Firmware checksum did not match the manifest for fw.bin.");

    const DataResult wrongSize = fixture.download(imageURL, image.size() + 1, imageSha256());
    ASSERT_TRUE(wrongSize.error);
    EXPECT_EQ(wrongSize.error->description,
        "Firmware size did not match the manifest for fw.bin (expected " + std::to_string(image.size() + 1) + ", got "
            + std::to_string(image.size()) + ").");
}

TEST(FirmwareManifestLoaderTests, AFileChannelReadsItsReleaseAndImageFromTheSameFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("releases"));
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("dev.json", channelManifest("releases/1.4.0.json"));
    write("releases/1.4.0.json", releaseManifest());
    write("releases/fw.bin", image);

    Fixture fixture;
    const CatalogResult result = fixture.load(url(QUrl::fromLocalFile(dir.filePath("dev.json")).toString()));
    ASSERT_TRUE(result.catalog) << errorText(result);
    EXPECT_EQ(result.catalog->sourceDescription(), "Local builds");
    const FirmwareAsset asset = result.catalog->asset(FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(asset.sourceDescription, "Local builds");
    const DataResult data = fixture.download(asset.url, asset.sizeBytes, asset.sha256);
    ASSERT_TRUE(data.data) << (data.error ? data.error->description : "");

    const CatalogResult missing = fixture.load(url(QUrl::fromLocalFile(dir.filePath("nothing.json")).toString()));
    EXPECT_FALSE(missing.catalog);
    EXPECT_TRUE(missing.error && !missing.error->description.empty());
    EXPECT_TRUE(fixture.server.requests().empty());

    // A pipe in place of the channel never blocks the window, and a device is not read.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("pipe.json")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath("zero.json")));
    for (const char* name : { "pipe.json", "zero.json" }) {
        const CatalogResult refused = fixture.load(url(QUrl::fromLocalFile(dir.filePath(name)).toString()));
        EXPECT_EQ(errorText(refused), "Not a regular file") << name;
    }
}

struct RecordingDevice {
    std::vector<FirmwareBeginEnvelope> begins;

    FirmwareTransfer::Transport transport()
    {
        FirmwareTransfer::Transport result;
        result.begin = [this](const FirmwareBeginEnvelope& begin) {
            begins.push_back(begin);
            return true;
        };
        result.commit = [] { return true; };
        result.abort = [] {};
        result.maximumWriteLength = [] { return std::optional<int>(180); };
        result.write = [](const Data&) { return true; };
        result.connect = [] {};
        result.isReady = [] { return true; };
        return result;
    }
};

TEST(FirmwareManifestLoaderTests, TheUploadServiceDownloadsThroughTheLoaderAndPreparesTheTransfer)
{
    Fixture fixture;
    RecordingDevice device;
    FirmwareUploadService service(
        device.transport(), fixture.loader.downloadOperation(), [](const std::string&) {},
        [](const std::optional<std::string>&) {}, [](const std::string&) { return std::optional<std::string>(); });

    const CatalogResult result = fixture.load(url(fixture.server.url("/channels/stable.json")));
    ASSERT_TRUE(result.catalog) << errorText(result);
    FirmwareAsset asset = result.catalog->asset(FirmwareHardwareTarget::m5StickC);
    service.start(asset);
    EXPECT_EQ(service.status().message, "Downloading firmware 1.4.0...");
    ASSERT_TRUE(processEventsUntil([&] { return service.isActive(); }));
    ASSERT_EQ(device.begins.size(), 1u);
    EXPECT_EQ(device.begins[0].size, image.size());
    EXPECT_EQ(service.totalBytes(), image.size());

    service.cancel(std::nullopt);
    fixture.server.routeBody("/releases/bad.bin", QByteArray(image.size(), 'z'));
    asset.url = url(fixture.server.url("/releases/bad.bin"));
    service.start(asset);
    ASSERT_TRUE(processEventsUntil([&] { return service.status().phase == FirmwareUploadStatus::Phase::failed; }));
    EXPECT_EQ(service.status().message,
        "Failed to download firmware: Firmware checksum did not match the manifest for bad.bin.");
    EXPECT_EQ(device.begins.size(), 1u);
}

} // namespace
} // namespace tavrik::test
