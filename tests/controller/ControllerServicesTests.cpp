#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include "TavrikCore/Support/Url.hpp"

#include <QTemporaryDir>

#include <fstream>

namespace tavrik::test {
namespace {

// The upload service fetches through the controller's manifest loader: a local image whose checksum
// does not match is refused with the loader's own text.
TEST_F(ControllerTest, TheUploadServiceDownloadsThroughTheManifestLoader)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("tavrik.bin")).toStdString();
    std::ofstream(path, std::ios::binary) << "firmware";

    makeController();
    FirmwareAsset asset;
    asset.url = *Url::parse("file://" + path);
    asset.version = "9.9.9";
    asset.sizeBytes = 8;
    asset.sha256 = std::string(64, '0');
    controller->firmwareUpload().start(asset);
    EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::downloading);

    ASSERT_TRUE(processEventsUntil([&] {
        scheduler.runDue();
        return controller->firmwareUpload().status().phase != FirmwareUploadStatus::Phase::downloading;
    }));
    const std::string message = controller->firmwareUpload().status().message;
    EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::failed);
    EXPECT_EQ(message.rfind("Failed to download firmware: ", 0), 0u) << message;
    EXPECT_EQ(message.find("No firmware download"), std::string::npos) << message;
}

} // namespace
} // namespace tavrik::test
