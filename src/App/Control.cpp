// Remote commands, carried out through the same operations the window and the keyboard use.
#include <algorithm>
#include <cmath>
#include <string>
#include <variant>

#include "App/AppState.hpp"

namespace ombry {

namespace {

constexpr double minDB = -60, maxDB = 6, stepDB = 3;

// A playhead target: never before the start; a value that is not a number is the start.
double seekTarget(double t) { return t >= 0 ? t : 0; }

// The master volume's range; a value that is not a number is 0 dB, so the program state stays encodable.
double limitDB(double db) {
    if (std::isnan(db)) return 0;
    return std::clamp(db, minDB, maxDB);
}

}  // namespace

void AppState::controlTransport(LayerId layer, const std::string& action, std::optional<double> time) {
    if (action == "play" || action == "pause") program.setLayerPlaying(layer, action == "play");
    sendTransport(layer, action, time);
}

void AppState::setControlVolumeDB(double db) {
    isMuted_ = false;
    setMasterVolumeDB(limitDB(db));
}

ControlResult AppState::takeForRemote(const MediaItem& item) {
    if (trigger(item, false)) return ControlResult::ok();
    // The driver reports why it refused to the issue log, in front; the remote gets the same sentence.
    if (!IssueLog::shared().recent().empty()) {
        Issue reported = IssueLog::shared().recent().front();
        reported.count = 1;
        return ControlResult::refused(reported.summary());
    }
    return ControlResult::refused("\u201C" + item.name + "\u201D could not be taken live");
}

ControlResult AppState::performControl(const ControlCommand& command) {
    using namespace control;
    struct Branch {
        AppState& app;

        ControlResult operator()(const TriggerId& c) const {
            const MediaItem* item = app.library.item(c.id);
            if (!item) return ControlResult::notFound("no clip with id " + c.id);
            const MediaItem copy = *item;  // the take may change the library under the pointer
            return app.takeForRemote(copy);
        }
        ControlResult operator()(const TriggerIndex& c) const {
            const std::vector<MediaItem> clips = app.controlBoardClips();
            if (c.index < 1 || std::uint64_t(c.index) > clips.size())
                return ControlResult::notFound("no clip at index " + std::to_string(c.index));
            return app.takeForRemote(clips[std::size_t(c.index - 1)]);
        }
        ControlResult operator()(const SeekBy& c) const {
            app.seekRelative(c.seconds);
            return ControlResult::ok();
        }
        ControlResult operator()(const SeekTo& c) const {
            if (const auto layer = app.primaryLayer()) app.controlTransport(*layer, "seek", seekTarget(c.seconds));
            return ControlResult::ok();
        }
        ControlResult operator()(const TransportLayer& c) const {
            const auto& cue = app.program.state().layers[c.layer].active;
            if (!cue) return ControlResult::ok();
            switch (c.verb.kind) {
                case TransportVerb::Kind::seekBy: {
                    const auto& reports = app.program.transports();
                    const auto report = reports.find(c.layer);
                    const double base = report == reports.end() ? 0.0 : report->second.currentTime;
                    app.controlTransport(c.layer, "seek", seekTarget(base + c.verb.seconds));
                    break;
                }
                case TransportVerb::Kind::seekTo: app.controlTransport(c.layer, "seek", seekTarget(c.verb.seconds)); break;
                case TransportVerb::Kind::play: app.controlTransport(c.layer, "play", std::nullopt); break;
                case TransportVerb::Kind::pause: app.controlTransport(c.layer, "pause", std::nullopt); break;
                case TransportVerb::Kind::toggle:
                    app.controlTransport(c.layer, cue->playing ? "pause" : "play", std::nullopt);
                    break;
                case TransportVerb::Kind::restart: app.controlTransport(c.layer, "seek", 0.0); break;
            }
            return ControlResult::ok();
        }
        ControlResult operator()(const Black& c) const {
            const bool black = app.program.state().black;
            app.program.setBlack(c.op == ToggleOp::on || (c.op == ToggleOp::toggle && !black));
            return ControlResult::ok();
        }
        ControlResult operator()(const ClearLayer& c) const {
            app.cancelAdvance();
            app.program.clearLayer(c.layer);
            return ControlResult::ok();
        }
        ControlResult operator()(const VolumeSetDB& c) const {
            app.setControlVolumeDB(c.db);
            return ControlResult::ok();
        }
        ControlResult operator()(const VolumeStep& c) const {
            // In double: a count near the 64-bit limit must not overflow on its way to the limits.
            app.setControlVolumeDB(app.masterVolumeDB() + stepDB * double(c.steps));
            return ControlResult::ok();
        }
        ControlResult operator()(const LayerVolume& c) const {
            app.program.setLayerVolume(c.layer, c.gain);
            return ControlResult::ok();
        }
        ControlResult operator()(const Mute& c) const {
            if (c.op == ToggleOp::toggle || (c.op == ToggleOp::on) != app.isMuted()) app.toggleMute();
            return ControlResult::ok();
        }
        ControlResult operator()(const Play&) const {
            if (const auto layer = app.primaryLayer()) app.controlTransport(*layer, "play", std::nullopt);
            return ControlResult::ok();
        }
        ControlResult operator()(const Pause&) const {
            if (const auto layer = app.primaryLayer()) app.controlTransport(*layer, "pause", std::nullopt);
            return ControlResult::ok();
        }
        ControlResult operator()(const PlayPause&) const {
            app.playPausePrimary();
            return ControlResult::ok();
        }
        ControlResult operator()(const Restart&) const {
            app.restartPrimary();
            return ControlResult::ok();
        }
        ControlResult operator()(const NextClip&) const {
            app.stepClip(1);
            return ControlResult::ok();
        }
        ControlResult operator()(const PrevClip&) const {
            app.stepClip(-1);
            return ControlResult::ok();
        }
        ControlResult operator()(const ClearAll&) const {
            app.cancelAdvance();
            app.program.clearAll();
            return ControlResult::ok();
        }
    };
    return std::visit(Branch{*this}, command.value);
}

}  // namespace ombry
