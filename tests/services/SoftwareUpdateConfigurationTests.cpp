#include "TavrikLink/Support/SoftwareUpdateConfiguration.hpp"

#include <gtest/gtest.h>

#include <QStringList>

namespace tavrik::test {
namespace {

TEST(SoftwareUpdateConfigurationTests, NeedsBothValuesAsNonBlankText)
{
    const QString feed = QStringLiteral("https://updates.example.org/appcast.xml");
    const QString key = QStringLiteral("pfIShU4dEXqPd5ObYNfDBiQWcXozk7estwzTnF9BamQ=");
    struct Case {
        const char* name;
        QVariantMap settings;
        bool expected;
    };
    const std::vector<Case> cases {
        { "both set", { { "SUFeedURL", feed }, { "SUPublicEDKey", key } }, true },
        { "both set with surrounding blanks and line breaks",
            { { "SUFeedURL", QStringLiteral(" \t") + feed + QStringLiteral("\n") },
                { "SUPublicEDKey", key + QStringLiteral("\r\n") } },
            true },
        { "nothing", {}, false },
        { "key missing", { { "SUFeedURL", feed } }, false },
        { "feed missing", { { "SUPublicEDKey", key } }, false },
        { "feed only blanks", { { "SUFeedURL", QStringLiteral("  \n\t ") }, { "SUPublicEDKey", key } }, false },
        { "key only a no-break space", { { "SUFeedURL", feed }, { "SUPublicEDKey", QStringLiteral("\u00a0") } }, false },
        { "both empty, as built by default", { { "SUFeedURL", QString() }, { "SUPublicEDKey", QString() } }, false },
        { "feed not text", { { "SUFeedURL", 42 }, { "SUPublicEDKey", key } }, false },
        { "key a list of text", { { "SUFeedURL", feed }, { "SUPublicEDKey", QStringList { key } } }, false },
        { "key a byte array", { { "SUFeedURL", feed }, { "SUPublicEDKey", key.toUtf8() } }, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SoftwareUpdateConfiguration::hasRequiredConfiguration(c.settings), c.expected);
    }
}

TEST(SoftwareUpdateConfigurationTests, ThisBuildHasNoUpdater)
{
    EXPECT_FALSE(SoftwareUpdateConfiguration::hasRequiredConfiguration(SoftwareUpdateConfiguration::buildSettings()));
}

} // namespace
} // namespace tavrik::test
