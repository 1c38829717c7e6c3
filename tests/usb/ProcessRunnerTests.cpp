#include "TavrikLink/Usb/ProcessRunner.hpp"
#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrik;

namespace {

class ProcessRunnerTest : public ::testing::Test {
protected:
    QTemporaryDir directory;

    std::string script(const std::string& body)
    {
        const QString path = directory.filePath(QString("helper%1.sh").arg(++count));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\n" + body + "\n").c_str());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path.toStdString();
    }

    UsbRunOutcome wait(std::optional<UsbRunOutcome>& outcome)
    {
        EXPECT_TRUE(test::processEventsUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(UsbRunOutcome::failure(UsbError("test", -1, "no outcome")));
    }

    UsbRunOutcome collect(
        const std::string& body, std::optional<Data> input = std::nullopt, std::vector<std::string> arguments = {})
    {
        std::optional<UsbRunOutcome> outcome;
        ProcessRunner::run(script(body), arguments, std::move(input), [&](UsbRunOutcome result) { outcome = result; });
        return wait(outcome);
    }

    UsbRunOutcome stream(const std::string& body, std::vector<std::string>& lines)
    {
        std::optional<UsbRunOutcome> outcome;
        ProcessRunner::runStreaming(
            script(body), {}, [&](const std::string& line) { lines.push_back(line); },
            [&](UsbRunOutcome result) { outcome = result; });
        return wait(outcome);
    }

    int count = 0;
};

TEST_F(ProcessRunnerTest, CollectedRunsPreferErrorOutputForFailuresAndStandardOutputForSuccess)
{
    const auto failed = collect("printf 'word'; printf '  word \\n' >&2; exit 1");
    ASSERT_FALSE(failed.succeeded());
    EXPECT_EQ(failed.error->domain(), "TavrikLinkProcess");
    EXPECT_EQ(failed.error->code(), 1);
    EXPECT_EQ(failed.error->description(), "word");

    const auto quiet = collect("exit 4");
    EXPECT_EQ(quiet.error->description(), "Command failed.");
    EXPECT_EQ(quiet.error->code(), 4);

    EXPECT_EQ(collect("printf 'only here' >&2").output, "only here");
    EXPECT_EQ(collect("printf 'out'; printf 'err' >&2").output, "out");
}

TEST_F(ProcessRunnerTest, ArgumentsReachTheHelperUnchangedWithoutAShell)
{
    const auto outcome
        = collect("for a in \"$@\"; do printf '[%s]' \"$a\"; done", std::nullopt, { "a b", "$HOME", "*", "'q'" });
    EXPECT_EQ(outcome.output, "[a b][$HOME][*]['q']");
}

TEST_F(ProcessRunnerTest, StandardInputIsWrittenThenClosedOrIsTheNullDevice)
{
    const std::string password = "pa ss\\word";
    Data input(password.begin(), password.end());
    input.push_back('\n');
    EXPECT_EQ(collect("cat", input).output, "pa ss\\word\n");
    // Without input the helper must see end of file at once instead of waiting for a terminal.
    const auto outcome = collect("cat; printf 'done'");
    EXPECT_EQ(outcome.output, "done");
}

TEST_F(ProcessRunnerTest, StreamingDeliversOnlyLineFeedTerminatedLines)
{
    std::vector<std::string> lines;
    const auto outcome = stream("printf 'first\\r half\\n\\nsecond'", lines);
    EXPECT_EQ(lines, (std::vector<std::string> { "first\r half", "" }));
    // The result drops empty lines while cleaning; a carriage return inside a line stays.
    EXPECT_EQ(outcome.output, "first\r half\nsecond");
}

TEST_F(ProcessRunnerTest, StreamingFailureTextIsEverythingPrintedLessProgress)
{
    std::vector<std::string> lines;
    const auto progressOnly = stream("printf 'USB_FLASH_PROGRESS 1 2\\nUSB_FLASH_VERIFIED x\\n'; exit 3", lines);
    ASSERT_FALSE(progressOnly.succeeded());
    EXPECT_EQ(progressOnly.error->code(), 3);
    EXPECT_EQ(progressOnly.error->description(), "Command failed.");

    lines.clear();
    const auto failed = stream("printf 'USB_FLASH_PROGRESS 1 2\\nwriting\\n'; printf 'bad port\\n' >&2; exit 2", lines);
    EXPECT_EQ(failed.error->description(), "writing\nbad port");

    lines.clear();
    const auto remainders = stream("printf 'tail-out'; printf 'tail-err' >&2", lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(remainders.output, "tail-out\ntail-err");
}

TEST_F(ProcessRunnerTest, AHelperThatIgnoresTheRequestToStopIsKilledByTheNextOne)
{
    std::optional<UsbRunOutcome> outcome;
    bool ready = false;
    const UsbCancel cancel = ProcessRunner::runStreaming(
        script("trap '' TERM; printf 'ready\\n'; sleep 30"), {}, [&](const std::string&) { ready = true; },
        [&](UsbRunOutcome result) { outcome = result; });
    ASSERT_TRUE(test::processEventsUntil([&] { return ready; }));
    cancel();
    cancel();
    const auto result = wait(outcome);
    ASSERT_FALSE(result.succeeded());
    EXPECT_EQ(result.error->code(), 128 + 9);
}

TEST_F(ProcessRunnerTest, AHelperKilledByASignalFailsWithANonZeroCode)
{
    const auto outcome = collect("printf 'started'; kill -9 $$");
    ASSERT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.error->domain(), "TavrikLinkProcess");
    EXPECT_EQ(outcome.error->code(), 128 + 9);
    // One that said nothing is still told apart from a plain failure.
    const auto silent = collect("kill -11 $$");
    ASSERT_FALSE(silent.succeeded());
    EXPECT_EQ(silent.error->description(), "The USB helper of Tavrik Link stopped unexpectedly.");
}

TEST_F(ProcessRunnerTest, CancellingTerminatesTheHelperAndStillCompletes)
{
    for (const bool streaming : { false, true }) {
        std::optional<UsbRunOutcome> outcome;
        const std::string helper = script("printf 'ready\\n'; sleep 30 & wait");
        UsbCancel cancel;
        bool ready = false;
        if (streaming) {
            cancel = ProcessRunner::runStreaming(
                helper, {}, [&](const std::string&) { ready = true; }, [&](UsbRunOutcome result) { outcome = result; });
            ASSERT_TRUE(test::processEventsUntil([&] { return ready; }));
        } else {
            cancel = ProcessRunner::run(helper, {}, std::nullopt, [&](UsbRunOutcome result) { outcome = result; });
        }
        cancel();
        const auto result = wait(outcome);
        ASSERT_FALSE(result.succeeded());
        EXPECT_NE(result.error->code(), 0);
    }
}

TEST_F(ProcessRunnerTest, AMissingExecutableFailsWithoutCrashing)
{
    std::optional<UsbRunOutcome> outcome;
    ProcessRunner::run(
        directory.filePath("absent").toStdString(), {}, std::nullopt, [&](UsbRunOutcome result) { outcome = result; });
    EXPECT_FALSE(wait(outcome).succeeded());
}

TEST(UsbOutputLines, OnlyALineFeedEndsALineAndProgressIsCleaned)
{
    EXPECT_EQ(splitUsbOutputLines("a\r\nb\n\nc\rd\v\fe\n"), (std::vector<std::string> { "a", "b", "c\rd\v\fe" }));
    // Network names may hold the Unicode line and paragraph separators and NEL: the line stays whole.
    for (const std::string separator : { "\u2028", "\u2029", "\u0085" }) {
        const std::string ssid = "Caf" + separator + "\u00e9";
        const std::string output = "USB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"" + ssid
            + "\",\"rssi\":-40,\"channel\":1,\"auth\":\"wpa2\"}\nUSB_WIFI_SCAN {\"type\":\"network\",\"ssid\":\"Home\","
              "\"rssi\":-60,\"channel\":6,\"auth\":\"wpa2\"}\n";
        const auto networks = UsbOnboardingService::parseUsbWifiNetworks(output, "en_US_POSIX");
        ASSERT_EQ(networks.size(), 2U) << output;
        EXPECT_EQ(networks[0].ssid, ssid);
        EXPECT_EQ(networks[1].ssid, "Home");
    }
    EXPECT_EQ(
        ProcessRunner::cleanProcessOutput("USB_FLASH_PROGRESS 1 2\nkept\nUSB_FLASH_VERIFIED ok\nUSB_FLASH_PROGRESSX\n"),
        "kept\nUSB_FLASH_PROGRESSX");
}

} // namespace
