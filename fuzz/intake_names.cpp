// libFuzzer target: the names of the intake, from text a sender or a paste controls. Upload names, a name's
// extension, sequence frame numbering and detection over a list of paths (one per line), deck ids from a
// pasted link, deck names and page file names, and request targets read as URI references.
#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Engine/Control/UriReference.hpp"
#include "Engine/Intake/MediaIngest.hpp"
#include "Engine/Intake/SequenceImport.hpp"
#include "Engine/Intake/SlideImport.hpp"
#include "Engine/Library/Store.hpp"
#include "Engine/Servers/ControlServer.hpp"
#include "FuzzSupport.hpp"

using namespace ombry;

namespace {

void uploadName(const std::string& raw) {
    const std::string name = MediaIngest::sanitizedFilename(raw);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(fuzz::isUtf8(name));
    FUZZ_CHECK(Store::isSafeFileName(name));
    FUZZ_CHECK(name.find_first_of("/:") == std::string::npos);
    for (unsigned char c : name) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    const auto [stem, ext] = MediaIngest::splitExtension(name);
    FUZZ_CHECK(!stem.empty());
    FUZZ_CHECK(stem.size() <= MediaIngest::maxStemBytes);
}

void extension(const std::string& name) {
    const auto [stem, ext] = MediaIngest::splitExtension(name);
    if (name.find('.') == std::string::npos || name.empty() || name[0] == '.') {
        FUZZ_CHECK(stem == name && ext.empty());
    } else {
        FUZZ_CHECK(stem + "." + ext == name);
        FUZZ_CHECK(ext.find('.') == std::string::npos);
    }
}

void numbering(const std::string& stem) {
    const auto number = SequenceImport::trailingNumber(stem);
    const std::string prefix = SequenceImport::stemPrefix(stem);
    FUZZ_CHECK(stem.compare(0, prefix.size(), prefix) == 0);
    const std::string digits = stem.substr(prefix.size());
    for (char c : digits) FUZZ_CHECK(c >= '0' && c <= '9');
    FUZZ_CHECK(number.has_value() == !digits.empty());
    if (number) {
        FUZZ_CHECK(*number >= 0 && *number <= 999'999'999);
        const std::string tail = digits.size() > 9 ? digits.substr(digits.size() - 9) : digits;
        FUZZ_CHECK(*number == std::stoll(tail));
    }
    FUZZ_CHECK(!SequenceImport::name(stem).empty());
}

void detection(const std::string& text) {
    std::vector<std::string> paths;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) paths.push_back(line);
    const auto found = SequenceImport::detect(paths);
    if (!found) return;
    FUZZ_CHECK(found->frames.size() >= 8 && found->frames.size() <= paths.size());
    FUZZ_CHECK(!found->name.empty());
    const std::multiset<std::string> given(paths.begin(), paths.end());
    for (const auto& f : found->frames) FUZZ_CHECK(given.count(f) > 0);
    FUZZ_CHECK(SequenceImport::detect(found->frames) == found);
}

void deck(const std::string& text, int page, int of) {
    if (const auto id = SlideImport::slidesDocumentID(text)) {
        FUZZ_CHECK(id->size() >= 8);
        FUZZ_CHECK(id->find_first_of("/:?#") == std::string::npos);
        FUZZ_CHECK(SlideImport::slidesDocumentID(SlideImport::exportURL(*id)) == id);
    }
    const std::string name = SlideImport::deckName(text);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find('/') == std::string::npos);
    if (const auto title = SlideImport::deckTitle(text)) FUZZ_CHECK(!title->empty() && *title != "Slides");
    const std::string file = SlideImport::pageFilename(name, page, of);
    FUZZ_CHECK(file.size() > name.size() + 4 && file.ends_with(".png"));
}

void uri(const std::string& text) {
    if (const auto decoded = percentDecode(text)) FUZZ_CHECK(fuzz::isUtf8(*decoded));
    const auto ref = UriReference::parse(text);
    if (ref) {
        FUZZ_CHECK(fuzz::isUtf8(ref->path));
        for (const auto& item : ref->queryItems) {
            FUZZ_CHECK(fuzz::isUtf8(item.name));
            if (item.value) FUZZ_CHECK(fuzz::isUtf8(*item.value));
        }
        FUZZ_CHECK(ref->query.has_value() || ref->queryItems.empty());
    }
    (void)ControlServer::queryDict(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzz::text(data, size));
    uploadName(text);
    extension(text);
    numbering(text);
    detection(text);
    const int page = size > 0 ? data[0] : 1, of = size > 1 ? data[1] * 40 : 1;
    deck(text, page, of);
    uri(text);
    return 0;
}
