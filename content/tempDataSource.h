// Ready-built catalogue sources over the images database and over the media database.
#pragma once

#include "content/List_DataSource.h"

class tempDataSource {
public:
    static std::shared_ptr<List_DataSource> tempImagesDataSource(const OEContext& context);
    // The music database carries its own picture tables.
    static std::shared_ptr<List_DataSource> tempMediaDataSource(const OEContext& context);
};
