#pragma once
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Engine/Model/JsonCoding.hpp"

namespace ombry {

// Where the application keeps its files, and the one writer of every stored JSON document.
// A document on disk is always either its previous or its new complete version.
struct Store {
    // "$XDG_DATA_HOME/Ombry" and its subfolders; created on first use, then constant. Never fail.
    static const std::filesystem::path& dir();
    static const std::filesystem::path& thumbnailDir();
    static const std::filesystem::path& mediaDir();
    static const std::filesystem::path& mediaIncomingDir();
    static const std::filesystem::path& projectsDir();

    // Encodes the value (encodeJson) pretty-printed and puts it in place through "<file>.tmp".
    // Never throws: a failure is reported as "PRJ-02" under the file name; a success resolves it.
    // Callable from any thread; the issue-log effects are posted to the main queue.
    template <class T>
    static void saveDoc(const T& value, const std::filesystem::path& target) {
        Json doc;
        try {
            doc = encodeJson(value);
        } catch (const std::exception& e) {
            failed(target, std::string("encoding failed: ") + e.what());
            return;
        }
        saveJson(doc, target);
    }
    static void saveDoc(const Json& doc, const std::filesystem::path& target) { saveJson(doc, target); }
    // The same for a document already in JSON form. Returns whether the file is in place.
    static bool saveJson(const Json& doc, const std::filesystem::path& target);

    // The decoder readDoc and loadDoc use when given none. Public: a default argument is checked for
    // access where it is used, by clang.
    template <class T>
    static T defaultDecode(const Json& j) {
        return decodeJson<T>(j);
    }
    // Reading a stored document.
    template <class T>
    struct Read {
        std::optional<T> value;
        bool exists = false;  // a file was there (the value is absent when it did not decode)
        std::string error;
    };
    template <class T>
    static Read<T> readDoc(const std::filesystem::path& file,
                           const std::function<T(const Json&)>& decode = defaultDecode<T>) {
        Read<T> out;
        auto raw = readJson(file, out.exists, out.error);
        if (!raw) return out;
        try {
            out.value = decode(*raw);
        } catch (const std::exception& e) {
            out.error = e.what();
        }
        return out;
    }
    // A side document (settings, recents, saved playlists, registry, tombstones): the value, or nothing
    // when the file is missing or unreadable. An unreadable file is moved aside to
    // "<file>.unreadable-<ms since 1970>" first, so the caller's next write never replaces it.
    template <class T>
    static std::optional<T> loadDoc(const std::filesystem::path& file,
                                    const std::function<T(const Json&)>& decode = defaultDecode<T>) {
        auto r = readDoc<T>(file, decode);
        if (!r.value && r.exists) setAside(file, r.error);
        return std::move(r.value);
    }
    // Moves an unreadable document out of the way and says so in the log. Returns the new path.
    static std::optional<std::filesystem::path> setAside(const std::filesystem::path& file,
                                                         const std::string& reason);

    // True when `name` can stand as one file name inside a folder: not empty, no "/", no NUL,
    // not "." or "..". Ids from documents and the clipboard go into file names only when this holds.
    static bool isSafeFileName(const std::string& name);

private:
    static std::optional<Json> readJson(const std::filesystem::path& file, bool& exists,
                                                  std::string& error);
    static void failed(const std::filesystem::path& target, const std::string& error);
};

}  // namespace ombry
