// The benchmarks' picture catalogue: 50,000 pictures in 50 subcategories of 1,000, by 250
// painters, with the columns of the real images database, written once per process into a
// sandbox of its own whose bundle becomes the main bundle.
#pragma once

#include "config/OEContext.h"

#include <memory>

class Loader;

inline constexpr int kBenchPictures = 50000;
inline constexpr int kBenchSubCats = 50;  // 1,000 pictures each
inline constexpr int kBenchAuthors = 250;
// The same catalogue with an index on the author name. Not an "images*" name: the images
// database's loader would take it for an old copy to import.
inline constexpr const char* kBenchIndexedCatalogue = "indexed.sqlite";

// Writes the catalogue the first time; the process exits with a sentence when it cannot.
void makeBenchCatalogue();
// The configuration of the catalogue's bundle, made once it is written.
const OEContext& benchContext();
// A new loader over the catalogue's images database, or over its copy with the author name index.
std::shared_ptr<Loader> benchLoader(bool authorNameIndex = false);
