#pragma once
// Hand-built camera replies, and a link whose receiver never runs with the
// page under test, for the table pages' tests. Rows are written at their
// byte offsets directly.

#include "link/config_frame.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include "net_sheet_test_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vantoro::ui::testing {

inline constexpr MacAddress kMacA{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
inline constexpr MacAddress kMacB{0x00, 0x11, 0x22, 0x33, 0x44, 0x66};

inline Frame Reply(std::uint32_t command, const MacAddress& mac)
{
    Frame f{};
    SetFrameCommand(f, command);
    SetFrameMac(f, mac);
    // Bytes the tool never names must travel unchanged: make them visible.
    f[1100] = 0xA5;
    return f;
}

inline std::size_t UserRow(int row) { return 32 + 56 * std::size_t(row); }
inline std::size_t DomainRow(int row) { return 32 + 104 * std::size_t(row); }

inline void PutText(Frame& f, std::size_t offset, const std::string& text)
{
    std::memcpy(f.data() + offset, text.data(), text.size());
    f[offset + text.size()] = 0;
}

inline void PutUser(Frame& f, int row, const std::string& name, const std::string& password, std::uint32_t permissions)
{
    PutText(f, UserRow(row), name);
    PutText(f, UserRow(row) + 32, password);
    StoreLe32(f.data() + UserRow(row) + 52, permissions);
}

inline void PutDomain(Frame& f, int row, const std::string& name, const std::string& ip_text)
{
    PutText(f, DomainRow(row), name);
    PutText(f, DomainRow(row) + 80, ip_text);
}

inline std::string TextAt(const Frame& f, std::size_t offset, std::size_t width)
{
    const char* p = reinterpret_cast<const char*>(f.data() + offset);
    return std::string(p, strnlen(p, width));
}

inline QStringList Lines(const SortedListBox* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->Text(i);
    return lines;
}

// The controls a table page's tests drive it by.
struct TableIds {
    int list, name_edit, text_edit, add, remove;
};

template <class Page, TableIds kIds>
class TablePageTest : public ::testing::Test {
protected:
    // Files a reply as the receiver would, and returns the camera it went to.
    CameraEntry* File(const Frame& reply)
    {
        test::Core(link).state.registry.FileRecord(reply);
        return test::Core(link).state.registry.FindCamera(FrameMac(reply));
    }
    void MakeCurrent(CameraEntry* camera) { state.camera.Choose(FrameMac(*camera->PreferredRecord())); }

    SortedListBox* List() { return Control<SortedListBox>(&page, kIds.list); }
    QLineEdit* NameEdit() { return Control<QLineEdit>(&page, kIds.name_edit); }
    QLineEdit* TextEdit() { return Control<QLineEdit>(&page, kIds.text_edit); }
    QPushButton* AddButton() { return Control<QPushButton>(&page, kIds.add); }
    QPushButton* DeleteButton() { return Control<QPushButton>(&page, kIds.remove); }

    // A camera with this table record becomes current, and the page is shown.
    CameraEntry* LogIn(const Frame& record)
    {
        CameraEntry* camera = File(record);
        MakeCurrent(camera);
        page.OnSetActive();
        return camera;
    }
    void Add(const QString& name, const QString& text)
    {
        NameEdit()->setText(name);
        TextEdit()->setText(text);
        AddButton()->click();
    }
    void Select(const QString& line)
    {
        const int row = Lines(List()).indexOf(line);
        ASSERT_GE(row, 0) << line.toStdString();
        List()->setCurrentRow(row);
    }

    CameraLink link{test::OfflinePorts()}; // its receiver is never started
    UiState state{link};
    Page page{state};
};

} // namespace vantoro::ui::testing
