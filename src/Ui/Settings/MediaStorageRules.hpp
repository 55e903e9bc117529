#pragma once
// The media storage pane's texts and rules, without a widget.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "App/MediaStorage.hpp"

namespace ombry::ui::storage {

// Sizes in decimal units as file managers show them (1 KB = 1,000 bytes): "Zero KB", "512 bytes", "12 KB",
// "3.4 MB", "1.25 GB".
QString formatBytes(std::int64_t bytes);

QString downloadedHeader(std::size_t count);
QString referencedHeader(std::size_t count);
QString originLabel(MediaOrigin origin);
// Who uses the file: "Unused", "In 3 other projects", "In this project", "In this + 1 other".
QString usageLabel(const DownloadedMediaFile& file);
// "12 KB · Cloud · Unused" (the origin only when known).
QString detailLine(const DownloadedMediaFile& file);

QString deleteTitle(const DownloadedMediaFile& file);
QString deleteButton(const DownloadedMediaFile& file);
// The other users, and the clips of the open project that leave with the file (by name).
QString deleteMessage(const DownloadedMediaFile& file, const QStringList& clipsHere);
QString deleteAllTitle();
QString deleteAllButton(std::int64_t shownBytes);
QString deleteAllMessage(std::size_t shownCount, std::size_t clipsHere);
// The fresh records of the shown files that are still there, in the fresh list's order: "Delete All" deletes
// what the operator saw, never a file that arrived after.
std::vector<DownloadedMediaFile> stillShown(const std::vector<DownloadedMediaFile>& fresh,
                                            const std::vector<DownloadedMediaFile>& shown);
std::int64_t totalSize(const std::vector<DownloadedMediaFile>& files);

QString removeReferenceTitle(const ReferencedMediaFile& ref);
QString removeReferenceMessage();

// The path with the home folder written "~".
QString tildePath(const std::string& path, const std::filesystem::path& home);
QString searchFolderButton(bool folderSet);

QString storageFooter();
QString offlineNote();

}  // namespace ombry::ui::storage
