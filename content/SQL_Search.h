// The catalogue search: loads the picture-and-author table once per language and answers each
// text from memory with a case-sensitive substring test on one column.
#pragma once

#include "content/Loader.h"
#include "content/OESearch.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <functional>
#include <optional>

// A condition for a WHERE clause with its values to bind, in order.
struct SQLCondition {
    std::string sql;
    Value::Array parameters;
};

class SQL_Search : public NSObject, public OESearch {
public:
    static std::shared_ptr<SQL_Search> sqlSearchWithLoader(std::shared_ptr<Loader> loader, const std::string& field);
    static std::shared_ptr<SQL_Search> initWithLoader(std::shared_ptr<Loader> loader, const std::string& field);

    const std::shared_ptr<Loader>& loader() const { return loader_; }
    const std::string& field() const { return field_; }
    std::string lastRequest() const;
    void setLastRequest(const std::string& sql);
    ContentRowList requestResult() const;
    void setRequestResult(ContentRowList rows);

    // The rows whose searched column contains `text`; nothing matches an empty text (answered
    // without the database). Callable from any queue: the search's connection is used only under
    // the search's lock and handed back after each use, so the search needs a loader of its own,
    // never one another queue (the main thread's lists) uses.
    ContentRowList result(const std::string& text) override;
    // True when the row's `field` contains the text.
    virtual std::function<bool(const Value::Dictionary&)> searchPredicate(const std::string& text) const;
    // "LOWER("<field>") LIKE ? ESCAPE '\'" with the lower-cased text, its wildcards escaped, as
    // the bound value: a quote, "%" or ";" typed finds exactly that text. None when the field
    // is not a plain identifier.
    [[nodiscard]] std::optional<SQLCondition> searchCondition(const std::string& text) const;
    // Every loaded row joins the table through this hook.
    virtual void addData(Value::Dictionary row, ContentRows& result);

    // The table SQL of the current language.
    std::string tableRequest() const;

protected:
    SQL_Search(std::shared_ptr<Loader> loader, std::string field) : loader_(std::move(loader)), field_(std::move(field)) {}
    static bool contains(const Value::Dictionary& row, const std::string& column, const std::string& text);

private:
    std::shared_ptr<Loader> loader_;
    std::string field_;
    mutable Mutex mutex_;
    std::string lastRequest_ GUARDED_BY(mutex_);
    ContentRowList requestResult_ GUARDED_BY(mutex_);
};
