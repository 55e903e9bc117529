// libFuzzer target: every stored document (project, recents, settings, saved playlists and the clipboard's
// playlists, media registry and tombstones, the legacy library, an upload's side file) read from arbitrary
// text as the store reads it. Whatever reads writes again, and decode → encode → decode gives the same value.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Library/MediaRegistry.hpp"
#include "Engine/Library/ProjectDoc.hpp"
#include "Engine/Library/SavedPlaylists.hpp"
#include "Engine/Library/Settings.hpp"
#include "Engine/Model/Protocol.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

namespace {

template <class T>
void roundTrip(const Json& j) {
    T first;
    try {
        first = decodeJson<T>(j);
    } catch (const DecodeError&) {
        return;  // any other exception escapes the readers' handlers too: a finding
    }
    const Json written = encodeJson(first);
    const T second = decodeJson<T>(written);
    FUZZ_CHECK(encodeJson(second) == written);
    if constexpr (std::equality_comparable<T>) FUZZ_CHECK(second == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Json j = Json::parse(fuzz::text(data, size), nullptr, false);  // as Store reads a file
    if (j.is_discarded()) return 0;
    roundTrip<ProjectDoc>(j);
    roundTrip<RecentsStore>(j);
    roundTrip<AppSettings>(j);
    roundTrip<SavedPlaylistsStore>(j);
    roundTrip<std::vector<SavedPlaylistSnapshot>>(j);
    roundTrip<MediaRegistry>(j);
    roundTrip<MediaTombstones>(j);
    roundTrip<LibraryDoc>(j);
    roundTrip<MediaIngest::Manifest>(j);
    return 0;
}
