#include <cstdlib>

#include "menu/menu_resources.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint16_t Word() {
        Require(size_ - pos_ >= 2);
        const std::uint16_t word = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return word;
    }
    void Skip(std::size_t count) {
        Require(size_ - pos_ >= count);
        pos_ += count;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

// Walks the raw bytes along the parsed entries and checks that every entry matches its bytes and that each
// entry closes exactly the levels whose end the template marks.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries = drovan::ParseMenuTemplate(data, size);
    if (!entries) {
        return 0;
    }
    Require(!entries->empty());
    Reader reader(data, size);
    reader.Word();
    reader.Skip(reader.Word());

    // For each open level, whether the pop-up that opened it was the last entry of its own level.
    std::vector<bool> openerEnded{false};
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const drovan::MenuTemplateEntry& entry = (*entries)[i];
        Require(!openerEnded.empty());
        const std::uint16_t options = reader.Word();
        const bool ends = (options & drovan::kMenuOptionEnd) != 0;
        Require(entry.flags == (options & ~drovan::kMenuOptionEnd));
        Require(entry.isPopup == ((options & drovan::kMenuOptionPopup) != 0));
        Require(entry.id == (entry.isPopup ? 0 : reader.Word()));
        for (char16_t unit : entry.text) {
            Require(unit != 0 && reader.Word() == unit);
        }
        Require(reader.Word() == 0);

        if (entry.isPopup) {
            Require(entry.levelsClosed == 0);
            openerEnded.push_back(ends);
            continue;
        }
        Require(ends == (entry.levelsClosed > 0));
        Require(static_cast<std::size_t>(entry.levelsClosed) <= openerEnded.size());
        for (int closed = 1; closed <= entry.levelsClosed; ++closed) {
            const bool parentEnds = openerEnded.back();
            openerEnded.pop_back();
            Require(parentEnds == (closed < entry.levelsClosed) || openerEnded.empty());
        }
        // Only the last entry may close the top level.
        Require(openerEnded.empty() == (i + 1 == entries->size()));
    }
    return 0;
}
