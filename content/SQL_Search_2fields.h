// The catalogue search over two columns: a row matches when either contains the text.
#pragma once

#include "content/SQL_Search.h"

class SQL_Search_2fields : public SQL_Search {
public:
    static std::shared_ptr<SQL_Search_2fields> sqlSearchWithLoader(std::shared_ptr<Loader> loader, const std::string& field1,
                                                                   const std::string& field2);
    static std::shared_ptr<SQL_Search_2fields> initWithLoader(std::shared_ptr<Loader> loader, const std::string& field1,
                                                              const std::string& field2);

    const std::string& field2() const { return field2_; }
    std::function<bool(const Value::Dictionary&)> searchPredicate(const std::string& text) const override;

private:
    SQL_Search_2fields(std::shared_ptr<Loader> loader, std::string field1, std::string field2)
        : SQL_Search(std::move(loader), std::move(field1)), field2_(std::move(field2)) {}

    std::string field2_;
};
