#include "TavrikCore/Support/Clock.hpp"
#include "TavrikLink/Support/TavrikLinkFirmwareError.hpp"
#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Usb/UsbError.hpp"
#include "TavrikLink/Usb/UsbOnboardingEnvironment.hpp"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/support/ManualScheduler.hpp"

namespace tavrik::test {
namespace {

// An install-like tree: prefix/bin for programs, prefix/share/tavrik-link for resources.
struct InstallTree : ::testing::Test {
    QTemporaryDir prefix;
    QString bin;

    void SetUp() override
    {
        ASSERT_TRUE(prefix.isValid());
        ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        bin = prefix.filePath(QStringLiteral("bin"));
    }

    QString writeHelper(QFileDevice::Permissions permissions)
    {
        const QString path = QDir(bin).filePath(QStringLiteral("TavrikUSBFlasher"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        EXPECT_TRUE(file.setPermissions(permissions));
        return path;
    }
};

TEST_F(InstallTree, ResourcesAreTheShareFolderBesideBin)
{
    ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/tavrik-link")));
    EXPECT_EQ(TavrikResources(bin).resourceDirectory(), prefix.filePath(QStringLiteral("share/tavrik-link")));
    // The program may be started through a path with "." and ".." in it.
    EXPECT_EQ(TavrikResources(bin + QStringLiteral("/../bin/.")).resourceDirectory(),
        prefix.filePath(QStringLiteral("share/tavrik-link")));
}

TEST_F(InstallTree, MissingResourcesStillGiveADirectory)
{
    const QString found = TavrikResources(bin).resourceDirectory();
    EXPECT_FALSE(found.isEmpty());
    EXPECT_TRUE(found.endsWith(QStringLiteral("/tavrik-link")));
}

TEST_F(InstallTree, FindsAnExecutableHelperBesideTheProgram)
{
    const QString helper = writeHelper(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(TavrikResources(bin).bundledUSBFlasher(), helper);
}

TEST_F(InstallTree, AHelperThatCannotRunIsReportedAsMissing)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases {
        { "absent", [] {} },
        { "not executable", [this] { writeHelper(QFileDevice::ReadOwner | QFileDevice::WriteOwner); } },
        { "a directory", [this] { QDir(bin).mkdir(QStringLiteral("TavrikUSBFlasher")); } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(bin).removeRecursively();
        QDir(prefix.path()).mkpath(QStringLiteral("bin"));
        c.arrange();
        try {
            TavrikResources(bin).bundledUSBFlasher();
            ADD_FAILURE() << "no error";
        } catch (const TavrikLinkFirmwareError& error) {
            EXPECT_EQ(error.code(), 11);
            EXPECT_STREQ(error.what(), "Tavrik Link could not locate the bundled USB flasher helper.");
        }
    }
}

TEST_F(InstallTree, TheUsbSetupFindsItsFilesThroughTheSameLookup)
{
    const QString share = prefix.filePath(QStringLiteral("share/tavrik-link"));
    ASSERT_TRUE(QDir(share).mkpath(QStringLiteral("USBProbeImages")));
    QFile probe(share + QStringLiteral("/USBProbeImages/m5stick-c.bin"));
    ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
    probe.close();
    TavrikResources::setResourceDirectoryOverride(share);
    ManualScheduler scheduler;
    const UsbOnboardingEnvironment live = UsbOnboardingEnvironment::live(scheduler, systemClock());
    EXPECT_EQ(live.labelFontPath(), (share + QStringLiteral("/Fonts/OpenGorton-Regular.otf")).toStdString());
    EXPECT_EQ(live.probeImagePath("m5stick-c"), probe.fileName().toStdString());
    EXPECT_EQ(live.probeImagePath("t-embed-cc1101"), std::nullopt);
    TavrikResources::setResourceDirectoryOverride({});

    // No helper beside this test program: the USB service's own error, with the lookup's code and text.
    try {
        live.helperPath();
        ADD_FAILURE() << "no error";
    } catch (const UsbError& error) {
        EXPECT_EQ(error.domain(), UsbError::firmwareDomain);
        EXPECT_EQ(error.code(), TavrikResources::helperMissingCode);
        EXPECT_STREQ(error.what(), TavrikResources::helperMissingMessage);
    }
}

} // namespace
} // namespace tavrik::test
