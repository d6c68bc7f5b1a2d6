// The cells a table or collection view keeps on screen, by index path: the one reconciliation
// both run when their bounds or contents change, and the queries over what is visible.
#pragma once

#include "platform/ui/NSIndexPath.h"

#include <map>
#include <memory>
#include <set>
#include <vector>

template <class Cell>
using VisibleCellMap = std::map<NSIndexPath, std::shared_ptr<Cell>>;

// Cells whose paths are no longer needed go to `enqueue(cell, path)`; a needed path without a
// cell gets one from `obtain(path)` (an empty result stops, as when there is no data source),
// which is listed as visible before `setUp(cell, path)` shows it; a cell already on screen is
// moved by `place(cell, path)`.
template <class Cell, class Enqueue, class Obtain, class SetUp, class Place>
void reconcileVisibleCells(VisibleCellMap<Cell>& visible, const std::vector<NSIndexPath>& needed, Enqueue enqueue,
                           Obtain obtain, SetUp setUp, Place place) {
    const std::set<NSIndexPath> neededSet(needed.begin(), needed.end());
    for (auto it = visible.begin(); it != visible.end();) {
        if (neededSet.count(it->first)) {
            ++it;
            continue;
        }
        auto cell = it->second;
        const NSIndexPath path = it->first;
        it = visible.erase(it);
        enqueue(cell, path);
    }
    for (const NSIndexPath& path : needed) {
        auto it = visible.find(path);
        if (it != visible.end()) {
            place(it->second, path);
            continue;
        }
        std::shared_ptr<Cell> cell = obtain(path);
        if (!cell) break;
        visible[path] = cell;
        setUp(cell, path);
    }
}

template <class Cell>
std::vector<NSIndexPath> visiblePaths(const VisibleCellMap<Cell>& visible) {
    std::vector<NSIndexPath> paths;
    for (const auto& [path, cell] : visible) paths.push_back(path);
    return paths;
}

template <class Cell>
std::vector<std::shared_ptr<Cell>> visibleCellList(const VisibleCellMap<Cell>& visible) {
    std::vector<std::shared_ptr<Cell>> cells;
    for (const auto& [path, cell] : visible) cells.push_back(cell);
    return cells;
}

template <class Cell>
std::shared_ptr<Cell> visibleCellAt(const VisibleCellMap<Cell>& visible, const NSIndexPath& path) {
    auto it = visible.find(path);
    return it == visible.end() ? nullptr : it->second;
}
