// What the articles screen lists: any source of articles with read marks.
#pragma once

#include "texts/Article.h"

#include <memory>
#include <vector>

class ArticlesList {
public:
    virtual ~ArticlesList() = default;
    // Fills the list; may block (the screen runs it on a background queue).
    virtual void load() = 0;
    // In list order; empty until load() has finished.
    virtual std::vector<std::shared_ptr<Article>> articles() const = 0;
    virtual bool isNewArticle(const Article& article) const = 0;
    virtual void markReaded(const Article& article) = 0;
};
