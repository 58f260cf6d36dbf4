// Where tests find the shared corpus of real XM files, which lives beside the
// project (../shared/corpus) and may be absent in a user's own clone.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

inline std::filesystem::path corpusDirectory() {
    return std::filesystem::path(CORPUS_DIR);
}

// The .xm files of one corpus folder ("songs", "effects", "malformed"),
// sorted by name; empty when the corpus is absent.
inline std::vector<std::filesystem::path> corpusFiles(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    const auto directory = corpusDirectory() / folder;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() == ".xm") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Every song and effect file of the corpus, then the demo's own song, which is
// there even where the corpus is absent.
inline std::vector<std::filesystem::path> corpusAndDemoSongs() {
    std::vector<std::filesystem::path> files = corpusFiles("songs");
    const std::vector<std::filesystem::path> effects = corpusFiles("effects");
    files.insert(files.end(), effects.begin(), effects.end());
    files.emplace_back(std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm");
    return files;
}

// Use at the start of a test: GTEST_SKIP with a clear reason when absent.
#define SKIP_WITHOUT_CORPUS(folder)                                                 \
    if (corpusFiles(folder).empty()) {                                              \
        GTEST_SKIP() << "corpus folder " << (corpusDirectory() / (folder)).string() \
                     << " not found; place the shared corpus beside the project";   \
    }
