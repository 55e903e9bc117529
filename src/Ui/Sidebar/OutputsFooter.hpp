#pragma once
// The foot of the sidebar: every program output with its status light, detail and status word. Syphon, NDI
// and the displays switch with a click; the browser source, a blocked display and the audio monitor open
// their tips beside the row.
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <map>
#include <optional>
#include <vector>

#include "Ui/Shell/Columns.hpp"
#include "Ui/Sidebar/SidebarRules.hpp"

class QVBoxLayout;

namespace ombry::ui {

class Popover;
class RefreshGate;

// One painted output line. Its accessible name joins its texts; its accessible value is "Connected" or "Off".
class OutputRow final : public QWidget {
    Q_OBJECT
public:
    explicit OutputRow(QWidget* parent = nullptr);
    void setData(const sidebar_rules::OutputRowData& data);
    const sidebar_rules::OutputRowData& data() const { return data_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The row in global coordinates, where its popovers hang.
    QRect globalRect() const;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    sidebar_rules::OutputRowData data_;
    bool pressed_ = false;
};

// A small heading in the footer.
class SubsectionHeader final : public QLabel {
    Q_OBJECT
public:
    explicit SubsectionHeader(const QString& title, QWidget* parent = nullptr);
};

class OutputsFooter final : public QWidget {
    Q_OBJECT
public:
    OutputsFooter(const ViewContext& context, QWidget* parent = nullptr);
    void refresh();
    RefreshGate& gate() const { return *gate_; }

    OutputRow* browserSourceRow() const { return browser_; }
    OutputRow* syphonRow() const { return syphon_; }
    OutputRow* ndiRow() const { return ndi_; }
    OutputRow* audioMonitorRow() const { return audio_; }
    // The display rows in display-list order.
    std::vector<OutputRow*> displayRows() const;
    OutputRow* displayRow(DisplayId id) const;

    // The audio devices read when the footer last came on screen (read off the GUI thread).
    const std::vector<AudioOutputDevice>& monitorDevices() const { return monitorDevices_; }
    bool devicesRead() const { return devicesRead_; }
    QString monitorDetail() const;

    // The tips open now; null when closed.
    Popover* obsTip() const { return obsTip_; }
    Popover* audioTip() const { return audioTip_; }
    Popover* blockedTip() const { return blockedTip_; }
    std::optional<DisplayId> blockedTipID() const { return blockedTipID_; }

signals:
    void monitorDevicesChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct DisplayRowState {
        OutputRow* row = nullptr;
        bool open = false;
        std::optional<DisplayBlockReason> reason;
        std::string name;
    };
    void readDevices();
    void clickDisplay(DisplayId id);
    void openObsTip();
    void openAudioTip();
    void flip(bool AppSettings::*field);

    ViewContext context_;
    RefreshGate* gate_;
    OutputRow* browser_;
    OutputRow* syphon_;
    OutputRow* ndi_;
    OutputRow* audio_;
    QWidget* displays_;
    QVBoxLayout* displaysLayout_;
    std::vector<DisplayId> displayOrder_;
    std::map<DisplayId, DisplayRowState> displayRows_;
    std::vector<AudioOutputDevice> monitorDevices_;
    bool devicesRead_ = false;
    int deviceReads_ = 0;
    QPointer<Popover> obsTip_;
    QPointer<Popover> audioTip_;
    QPointer<Popover> blockedTip_;
    std::optional<DisplayId> blockedTipID_;
};

}  // namespace ombry::ui
