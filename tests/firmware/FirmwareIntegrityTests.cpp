#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrik {
namespace {

TEST(FirmwareIntegrity, DigestIsLowerCaseHexadecimal)
{
    EXPECT_EQ(FirmwareIntegrity::sha256(Data {}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(FirmwareIntegrity::sha256(dataFromString("abc")),
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Longer than one block, so the digest is not just of a prefix.
    EXPECT_EQ(FirmwareIntegrity::sha256(Data(1000, 0x61)),
        "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

std::string validationError(const Data& data, const FirmwareAsset& asset, FirmwareHardwareTarget connected)
{
    try {
        FirmwareIntegrity::validate(data, asset, connected);
    } catch (const SyncImportError& error) {
        return error.what();
    }
    return "";
}

TEST(FirmwareIntegrity, ChecksTargetThenSizeThenChecksum)
{
    const Data image = dataFromString("abc");
    const FirmwareAsset good {
        .target = FirmwareHardwareTarget::m5StickS3,
        .sizeBytes = 3,
        .sha256 = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
    };
    FirmwareAsset wrongSizeAndSum = good;
    wrongSizeAndSum.sizeBytes = 4;
    wrongSizeAndSum.sha256 = "00";
    FirmwareAsset wrongSum = good;
    wrongSum.sha256 = " " + good.sha256;

    const std::string target = "Firmware hardware target does not match the connected device";
    const std::string size = "Firmware size does not match the manifest";
    const std::string checksum = "Firmware checksum does not match the manifest";
    EXPECT_EQ(validationError(image, good, FirmwareHardwareTarget::m5StickS3), "");
    EXPECT_EQ(validationError(image, wrongSizeAndSum, FirmwareHardwareTarget::m5StickC), target);
    EXPECT_EQ(validationError(image, wrongSizeAndSum, FirmwareHardwareTarget::m5StickS3), size);
    EXPECT_EQ(validationError(image, wrongSum, FirmwareHardwareTarget::m5StickS3), checksum);
    EXPECT_EQ(validationError(dataFromString("abd"), good, FirmwareHardwareTarget::m5StickS3), checksum);
}

} // namespace
} // namespace tavrik
