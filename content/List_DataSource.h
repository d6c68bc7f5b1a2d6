// The picture catalogue over "bigCat", "subCat", "images" and "author", each level queried
// once and cached until "MessageDataUpdated".
#pragma once

#include "content/Loader_DataSource.h"

#include <map>

class List_DataSource : public Loader_DataSource {
public:
    static std::shared_ptr<List_DataSource> initWithLoader(std::shared_ptr<Loader> loader);

    void dataUpdated() override;

    CatList catList() override;
    // The subcategories of a category that have at least one picture, by their "date".
    SubCatList subCatList(const std::shared_ptr<dataCat>& cat) override;
    // The picture rows of a subcategory, by author name.
    ContentRowList list(const std::shared_ptr<dataSubCat>& subCat) override;

    virtual std::string requestStringForCat(const std::shared_ptr<dataSubCat>& subCat);
    virtual std::string catKey(const std::shared_ptr<dataSubCat>& subCat);
    virtual bool checkIfNeedAddData(const Value::Dictionary&) { return true; }
    void addImageData(Value::Dictionary row, ContentRows& rows);

    bool alowDeleteSubCats() override { return true; }
    // Deletes the subcategory's row and its pictures' rows, and the files they occupy: the
    // subcategory picture "Data/cats/<filePath>.jpg|.png", and for each picture "Data/<path>",
    // "Data/hd-<path>" and its thumbnail in Documents and Caches.
    void deleteSubCat(const std::shared_ptr<dataSubCat>& subCat) override;

    // One query: the pictures with an author whose group is one of the listed subcategories.
    std::vector<std::string> allPathsInAnyOrder() override;

    // The table the subcategory records are rows of, and the picture column that points at it.
    virtual std::string groupingTable() const { return "subCat"; }

protected:
    explicit List_DataSource(std::shared_ptr<Loader> loader) : Loader_DataSource(std::move(loader)) {}
    static std::string levelKey(const std::string& name, std::int32_t index);
    // Runs the query, passing each row through addImageData.
    ContentRows loadRows(const std::string& sql);
    std::vector<std::shared_ptr<dataSubCat>> loadSubCats(const std::string& sql, bool keepEmpty);

    CatList catCache_;
    std::map<std::string, SubCatList> subCatCache_;
    std::map<std::string, ContentRowList> listCache_;
};
