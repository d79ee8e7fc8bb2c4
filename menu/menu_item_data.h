#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace drovan {

// One entry of a TarnMenu; its address is the entry's item data.
class MenuItemData {
  public:
    MenuItemData();
    MenuItemData(const MenuItemData&) = delete;
    MenuItemData& operator=(const MenuItemData&) = delete;
    ~MenuItemData();

    // Null stores no text.
    void SetText(const wchar_t* text);
    // For callers that hold narrow text: converted from the ANSI code page.
    void SetTextAnsi(const char* text);
    // The text in the ANSI code page; empty when there is none.
    std::string GetText() const;
    // The text, or null.
    const wchar_t* Text() const { return m_text ? m_text->c_str() : nullptr; }

    static int LiveCount();

    int m_sharedImageIndex = -1;
    UINT m_flags = 0;
    // The command id; for a pop-up entry the pop-up's menu handle; 0 for a separator.
    UINT_PTR m_commandId = 0;

  private:
    std::optional<std::wstring> m_text;
};

}  // namespace drovan
