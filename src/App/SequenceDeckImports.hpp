#pragma once
// The records the image-sequence and slide-deck imports show: the encode under way and the decks waiting for
// the operator's answer.
#include <cstdint>
#include <string>

namespace ombry {

// The image-sequence encode under way (one slot: a new import replaces it).
struct SequenceEncode {
    std::string id;  // UUID, new for each import
    std::string name;
    std::int64_t frames = 0;
    double fraction = 0;  // 0 to 1
    bool operator==(const SequenceEncode&) const = default;
};

// A multi-page PDF dropped on a playlist, waiting for the operator to choose that playlist or its own.
struct PendingDeckImport {
    std::string id;  // UUID, new for each deck
    std::string pdf;
    int pages = 0;  // at least 2
    std::string deckName;
    std::string playlistId;
    std::string playlistName;  // at the time of the drop
    bool operator==(const PendingDeckImport&) const = default;
};

}  // namespace ombry
