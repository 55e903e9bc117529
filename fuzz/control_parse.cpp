// libFuzzer target: the remote command parser on arbitrary bytes. Built by scripts/fuzz with clang.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Engine/Control/ControlCommand.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto command = ombry::ControlCommand::parse(text);
    if (!command) return 0;
    // A command never carries a number the program state could not hold.
    std::visit(
        [](const auto& c) {
            using C = std::decay_t<decltype(c)>;
            using namespace ombry::control;
            if constexpr (std::is_same_v<C, TriggerIndex>) {
                if (c.index < 1) std::abort();
            } else if constexpr (std::is_same_v<C, SeekBy> || std::is_same_v<C, SeekTo>) {
                if (!std::isfinite(c.seconds)) std::abort();
            } else if constexpr (std::is_same_v<C, VolumeSetDB>) {
                if (!std::isfinite(c.db)) std::abort();
            } else if constexpr (std::is_same_v<C, LayerVolume>) {
                if (!std::isfinite(c.gain)) std::abort();
            } else if constexpr (std::is_same_v<C, TransportLayer>) {
                if (!std::isfinite(c.verb.seconds)) std::abort();
            }
        },
        command->value);
    if (!(*ombry::ControlCommand::parse(text) == *command)) std::abort();
    (void)ombry::describe(*command);
    return 0;
}
