#include "menu/menu_item_data.h"

#include "framework/text.h"

namespace drovan {
namespace {

int g_liveRecords = 0;

}  // namespace

MenuItemData::MenuItemData() {
    ++g_liveRecords;
}

MenuItemData::~MenuItemData() {
    --g_liveRecords;
}

int MenuItemData::LiveCount() {
    return g_liveRecords;
}

void MenuItemData::SetText(const wchar_t* text) {
    if (text == nullptr) {
        m_text.reset();
    } else {
        m_text = text;
    }
}

void MenuItemData::SetTextAnsi(const char* text) {
    if (text == nullptr) {
        SetText(nullptr);
        return;
    }
    const std::wstring wide = framework::ToWide(text, CP_ACP);
    SetText(wide.c_str());
}

std::string MenuItemData::GetText() const {
    return m_text ? framework::ToNarrow(*m_text, CP_ACP) : std::string();
}

}  // namespace drovan
