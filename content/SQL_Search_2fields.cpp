// The catalogue search over two columns: a row matches when either contains the text.
#include "content/SQL_Search_2fields.h"

std::shared_ptr<SQL_Search_2fields> SQL_Search_2fields::sqlSearchWithLoader(std::shared_ptr<Loader> loader,
                                                                           const std::string& field1,
                                                                           const std::string& field2) {
    return initWithLoader(std::move(loader), field1, field2);
}

std::shared_ptr<SQL_Search_2fields> SQL_Search_2fields::initWithLoader(std::shared_ptr<Loader> loader,
                                                                      const std::string& field1,
                                                                      const std::string& field2) {
    return std::shared_ptr<SQL_Search_2fields>(new SQL_Search_2fields(std::move(loader), field1, field2));
}

std::function<bool(const Value::Dictionary&)> SQL_Search_2fields::searchPredicate(const std::string& text) const {
    return [first = field(), second = field2_, text](const Value::Dictionary& row) {
        return contains(row, first, text) || contains(row, second, text);
    };
}
