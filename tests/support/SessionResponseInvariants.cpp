#include "tests/support/SessionResponseInvariants.hpp"

#include "TavrikCore/Support/Base64.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {

std::string shortenedForMessage(std::string text)
{
    if (text.size() > 300) {
        text.resize(300);
        text += "...";
    }
    return text;
}

SessionResponseInvariants::Document SessionResponseInvariants::check(const std::string& request, const Data& response)
{
    Document document;
    try {
        document = Document::parse(response.begin(), response.end());
    } catch (const std::exception& failure) {
        ADD_FAILURE() << context << ": response is not JSON (" << failure.what() << ") for " << request << ": "
                      << shortenedForMessage(stringFromData(response));
        return nullptr;
    }
    if (!document.is_object() || document.value("version", Document()) != Document(1) || !document.contains("ok")
        || !document.at("ok").is_boolean()) {
        ADD_FAILURE() << context << ": malformed response for " << request << ": "
                      << shortenedForMessage(document.dump());
        return nullptr;
    }
    const bool ok = document.at("ok").get<bool>();
    const auto error = document.find("error");
    if (ok == (error != document.end()) || (error != document.end() && !error->is_string())) {
        ADD_FAILURE() << context << ": \"error\" does not match \"ok\" for " << request;
    }
    const auto state = document.find("state");
    const auto effects = document.find("effects");
    if (state == document.end() || !state->is_object() || effects == document.end() || !effects->is_array()) {
        ADD_FAILURE() << context << ": response without state or effects for " << request << ": "
                      << shortenedForMessage(document.dump());
        return nullptr;
    }
    const auto revision = state->find("revision");
    const auto generation = state->find("generation");
    if (revision == state->end() || !revision->is_number_unsigned() || generation == state->end()
        || !generation->is_number_unsigned()) {
        ADD_FAILURE() << context << ": state without revision or generation for " << request;
        return nullptr;
    }
    const auto newRevision = revision->get<std::uint64_t>();
    const auto newGeneration = generation->get<std::uint64_t>();
    if (started) {
        EXPECT_EQ(newRevision, ok ? lastRevision + 1 : lastRevision)
            << context << ": revision after " << request << " ("
            << (ok ? std::string("ok") : document.value("error", std::string())) << ")";
        EXPECT_GE(newGeneration, lastGeneration) << context << ": generation went back after " << request;
    }
    started = true;
    lastRevision = newRevision;
    lastGeneration = newGeneration;
    checkEffects(*effects, *state, request);
    if (!state->value("connected", true)) {
        const Document firmware = state->value("firmware", Document::object());
        EXPECT_FALSE(state->contains("device") || state->value("wifiBusy", true) || state->value("scanActive", true)
            || state->value("simulator", true) || state->contains("idleSeconds") || firmware.value("active", true))
            << context << ": link state outlives the link after " << request << ": "
            << shortenedForMessage(state->dump());
    }
    return document;
}

void SessionResponseInvariants::checkEffects(
    const Document& effects, const Document& state, const std::string& request) const
{
    for (const Document& effect : effects) {
        const std::string type = effect.is_object() ? effect.value("type", "") : "";
        if (type == "write" || type == "applicationWrite" || type == "firmwareWrite" || type == "message") {
            const auto payload = effect.find("payload");
            EXPECT_TRUE(payload != effect.end() && payload->is_string() && base64Decoded(payload->get<std::string>()))
                << context << ": " << type << " effect without a base64 payload after " << request;
        } else if (type == "download") {
            const std::string url = effect.value("url", "");
            EXPECT_TRUE(url.starts_with("https://")) << context << ": download of " << url << " after " << request;
            EXPECT_TRUE(effect.value("requestId", Document()).is_string()) << context << ": download without id";
            EXPECT_EQ(effect.value("generation", Document()), state.value("generation", Document()))
                << context << ": download for another link after " << request;
        } else if (type != "disconnect" && type != "clearFirmwareWrites") {
            ADD_FAILURE() << context << ": unknown effect " << shortenedForMessage(effect.dump()) << " after " << request;
        }
    }
}

} // namespace tavrik::test
