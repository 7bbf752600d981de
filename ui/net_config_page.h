#pragma once
// The Net Config page (template 101): addressing mode, search, camera list,
// login, firmware version, network settings and reset of the current camera.

#include "link/config_frame.h"
#include "link/network_fields.h"
#include "ui/sheet_page.h"

#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <optional>

namespace vantoro {
}

namespace vantoro::ui {

struct UiState;

// The camera list shows a mac in its table form, "00 0A 0B 00 00 01".
QString FormatMacLine(const MacAddress& mac);
// Reads a list line back to its mac; any other text gives all-zero bytes.
MacAddress ScanMacLine(const QString& line);

class NetConfigPage final : public SheetPage {
    Q_OBJECT
public:
    // Builds the page, registers it as state.net_page and switches to LAN mode.
    explicit NetConfigPage(UiState& state, QWidget* parent = nullptr);

    // Fills the network fields from the current camera's GeneralConfig; until
    // that record comes the page shows nothing of it, nor of the camera before.
    void Refresh() override;
    // Writes the network fields into the current camera's GeneralConfig,
    // whichever page is active. Fields that show no record of this camera are
    // read by no one.
    void Collect() override;

    // WM_CAMERA_FOUND, delivered on this thread while the receiver waits:
    // lists the camera it announces.
    void HandleCameraFound(const MacAddress& mac);
    // Text of the WAN address field (control 1024), for the transmitter.
    QString WanAddressText() const;

private:
    // What the network fields and switches hold, in record words, as
    // kNetworkFields; a switch holds 1 or 0.
    using NetValues = std::array<std::uint32_t, kNetworkFieldCount>;
    void EnableNetControls();
    // record: a copy of the current camera's GeneralConfig.
    void FillNetFields(const Frame& record);
    NetValues ReadNetFields() const;
    static void WriteNetValues(Frame& record, const NetValues& values);
    // For a current camera without a GeneralConfig: empties the network
    // fields, unchecks the switches and disables both.
    void ClearAndDisableFields();
    void SetWanMode(bool on);
    void CheckPair(int checked_id, int unchecked_id);
    void Login();
    bool ScanUserTable(const MacAddress& camera) const;
    void PromptLogin();
    void LoginSucceeded(const MacAddress& camera);
    void ShowVersion(const MacAddress& camera);
    // Looks whether the general record of a camera logged in to without one
    // has come; the first time it has, shows it once.
    void CheckLateGeneralRecord();
    void Reset();

    UiState& state_;
    // False until the fields were filled from the current camera's record:
    // until then they are disabled and empty, and hold nothing of the user's.
    bool fields_filled_ = false;
    // Runs while the current camera's general record is awaited. Nothing
    // tells this thread of a record of a camera already listed.
    QTimer late_record_check_;
    std::optional<MacAddress> awaited_camera_;
};

// Modal box without an owner and with a single OK, as every notice of the
// tool is shown.
void ShowNotice(const QString& text, const QString& caption);

} // namespace vantoro::ui
