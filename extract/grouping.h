#pragma once

#include <optional>
#include <vector>

#include "extract/harvest_item.h"
#include "extract/harvest_summary.h"

namespace drovan {

// The stage between listing and writing where items that belong together become one. The items it holds
// wait until every source is listed; the others are written while the listing goes on.
class Grouping {
  public:
    virtual ~Grouping() = default;
    // True for an item that may belong with others.
    virtual bool Holds(const HarvestItem& item) const = 0;
    // Every held item, once all are listed; what is to be written of them, in order. It counts what it
    // makes of them in summary: held items are listed uncounted.
    virtual std::vector<HarvestItem> Group(std::vector<HarvestItem> held, HarvestSummary& summary) = 0;
    // Whether the content of an item it gave is judged only as it is written: reading it ahead would read it
    // whole before its first byte came.
    virtual bool JudgedAsWritten(const Content&) const { return false; }
    // The items to write instead of one it gave whose write refused its content once read (a stream the
    // rewrap refuses), each matched as listed while the one replaced is not. None when the content failed
    // otherwise.
    virtual std::optional<std::vector<HarvestItem>> Instead(Content&) { return std::nullopt; }
};

// Every item is written as it is listed.
class NoGrouping final : public Grouping {
  public:
    bool Holds(const HarvestItem&) const override { return false; }
    std::vector<HarvestItem> Group(std::vector<HarvestItem> held, HarvestSummary&) override { return held; }
};

}  // namespace drovan
