#include "TavrikLink/Usb/ProcessRunner.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <QProcess>
#include <QStringDecoder>

#include <memory>

namespace tavrik {

namespace {

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder.decode(bytes);
    (void)decoded;
    return !decoder.hasError();
}

std::string textOrEmpty(const QByteArray& bytes)
{
    return isValidUtf8(bytes) ? bytes.toStdString() : std::string();
}

std::string failureText(const std::string& preferred, const std::string& fallback, bool crashed)
{
    std::string message = text::trimmed(preferred.empty() ? fallback : preferred);
    if (message.empty() && crashed) {
        // Killed by a signal before it could say anything.
        return "The USB helper of Tavrik Link stopped unexpectedly.";
    }
    return message.empty() ? std::string("Command failed.") : message;
}

// A signal death has no exit status of its own; report it the way a shell would.
std::int64_t statusOf(const QProcess& process)
{
    if (process.exitStatus() == QProcess::CrashExit) {
        return process.exitCode() > 0 ? 128 + process.exitCode() : 128;
    }
    return process.exitCode();
}

QStringList toArguments(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const auto& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    return list;
}

struct RunState {
    std::unique_ptr<QProcess> process;
    UsbRunCompletion completion;
    bool completed = false;
    bool cancelled = false;
    // Streaming: bytes not yet ended by a line feed, and every completed line in arrival order.
    QByteArray stdoutBuffer;
    QByteArray stderrBuffer;
    std::vector<std::string> outputLines;
    UsbLineCallback onLine;

    void complete(UsbRunOutcome outcome)
    {
        if (completed) {
            return;
        }
        completed = true;
        if (process) {
            process->disconnect();
            process.release()->deleteLater();
        }
        auto done = std::move(completion);
        done(std::move(outcome));
    }

    std::vector<std::string> append(const QByteArray& bytes, QByteArray& buffer)
    {
        buffer.append(bytes);
        std::vector<std::string> lines;
        qsizetype end = 0;
        while ((end = buffer.indexOf('\n')) >= 0) {
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 1);
            if (isValidUtf8(line)) {
                lines.push_back(line.toStdString());
                outputLines.push_back(lines.back());
            }
        }
        return lines;
    }

    std::string finalize()
    {
        for (QByteArray* buffer : { &stdoutBuffer, &stderrBuffer }) {
            if (!buffer->isEmpty() && isValidUtf8(*buffer)) {
                outputLines.push_back(buffer->toStdString());
            }
            buffer->clear();
        }
        std::string joined;
        for (std::size_t index = 0; index < outputLines.size(); ++index) {
            joined += (index == 0 ? "" : "\n") + outputLines[index];
        }
        return joined;
    }
};

UsbCancel cancelOperation(const std::shared_ptr<RunState>& state)
{
    std::weak_ptr<RunState> weak = state;
    return [weak] {
        const auto state = weak.lock();
        if (!state || state->completed) {
            return;
        }
        const bool again = state->cancelled;
        state->cancelled = true;
        if (state->process && state->process->state() != QProcess::NotRunning) {
            // The first request asks the helper to stop; a helper that ignores it is killed.
            if (again) {
                state->process->kill();
            } else {
                state->process->terminate();
            }
        }
    };
}

void connectLaunchFailure(const std::shared_ptr<RunState>& state)
{
    QProcess* process = state->process.get();
    // A cancel that came while the helper was still starting ends it as soon as it runs.
    QObject::connect(process, &QProcess::started, process, [state] {
        if (state->cancelled && state->process) {
            state->process->terminate();
        }
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [state](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) {
            return;
        }
        const std::string message = state->process->errorString().toStdString();
        state->complete(UsbRunOutcome::failure(UsbError("ProcessLaunch", static_cast<int>(error), message)));
    });
}

} // namespace

UsbCancel ProcessRunner::run(const std::string& executable, const std::vector<std::string>& arguments,
    std::optional<Data> standardInput, UsbRunCompletion completion)
{
    auto state = std::make_shared<RunState>();
    state->completion = std::move(completion);
    state->process = std::make_unique<QProcess>();
    QProcess* process = state->process.get();
    process->setProgram(QString::fromStdString(executable));
    process->setArguments(toArguments(arguments));
    if (!standardInput) {
        process->setStandardInputFile(QProcess::nullDevice());
    }
    connectLaunchFailure(state);
    QObject::connect(process, &QProcess::finished, process, [state](int, QProcess::ExitStatus) {
        if (state->completed || !state->process) {
            return;
        }
        QProcess& process = *state->process;
        const std::string out = textOrEmpty(process.readAllStandardOutput());
        const std::string err = textOrEmpty(process.readAllStandardError());
        const std::int64_t status = statusOf(process);
        if (status == 0) {
            state->complete(UsbRunOutcome::success(out.empty() ? err : out));
        } else {
            state->complete(UsbRunOutcome::failure(UsbError(
                UsbError::processDomain, status, failureText(err, out, process.exitStatus() == QProcess::CrashExit))));
        }
    });
    if (standardInput) {
        const Data bytes = *standardInput;
        QObject::connect(process, &QProcess::started, process, [process, bytes] {
            process->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
            process->closeWriteChannel();
        });
    }
    process->start(QIODevice::ReadWrite);
    return cancelOperation(state);
}

UsbCancel ProcessRunner::runStreaming(const std::string& executable, const std::vector<std::string>& arguments,
    UsbLineCallback onLine, UsbRunCompletion completion)
{
    auto state = std::make_shared<RunState>();
    state->completion = std::move(completion);
    state->onLine = std::move(onLine);
    state->process = std::make_unique<QProcess>();
    QProcess* process = state->process.get();
    process->setProgram(QString::fromStdString(executable));
    process->setArguments(toArguments(arguments));
    process->setStandardInputFile(QProcess::nullDevice());
    connectLaunchFailure(state);

    auto deliver = [](const std::shared_ptr<RunState>& state, const std::vector<std::string>& lines) {
        for (const auto& line : lines) {
            if (state->onLine) {
                state->onLine(line);
            }
        }
    };
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [state, deliver] {
        deliver(state, state->append(state->process->readAllStandardOutput(), state->stdoutBuffer));
    });
    QObject::connect(process, &QProcess::readyReadStandardError, process, [state, deliver] {
        deliver(state, state->append(state->process->readAllStandardError(), state->stderrBuffer));
    });
    QObject::connect(process, &QProcess::finished, process, [state, deliver](int, QProcess::ExitStatus) {
        deliver(state, state->append(state->process->readAllStandardOutput(), state->stdoutBuffer));
        deliver(state, state->append(state->process->readAllStandardError(), state->stderrBuffer));
        if (state->completed || !state->process) {
            return;
        }
        const std::string cleaned = cleanProcessOutput(state->finalize());
        const std::int64_t status = statusOf(*state->process);
        if (status == 0) {
            state->complete(UsbRunOutcome::success(cleaned));
        } else {
            state->complete(UsbRunOutcome::failure(UsbError(UsbError::processDomain, status,
                failureText(cleaned, "", state->process->exitStatus() == QProcess::CrashExit))));
        }
    });
    process->start(QIODevice::ReadOnly);
    return cancelOperation(state);
}

std::vector<std::string> splitUsbOutputLines(const std::string& text)
{
    // Only LF ends a helper line: U+2028, U+2029, U+0085 and the other breaks can be part of a
    // network name inside a JSON line.
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}

std::string ProcessRunner::cleanProcessOutput(const std::string& output)
{
    std::string result;
    bool first = true;
    for (const auto& line : splitUsbOutputLines(output)) {
        if (line.starts_with("USB_FLASH_PROGRESS ") || line.starts_with("USB_FLASH_VERIFIED ")) {
            continue;
        }
        result += (first ? "" : "\n") + line;
        first = false;
    }
    return result;
}

} // namespace tavrik
