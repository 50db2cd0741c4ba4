// The control classes the forms need beyond Qt's own: picture control, radio group, track bar,
// speed button. Events a form handles are Qt signals; handlers connect to them.
#pragma once

#include "platform/graphics/Graphic.h"

#include <QGroupBox>
#include <QSlider>
#include <QStringList>
#include <QToolButton>
#include <QWidget>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift, Alt, Ctrl, left, right, middle, double click.
using TShiftState = uint32_t;
inline constexpr TShiftState ssShift = 1u << 0;
inline constexpr TShiftState ssAlt = 1u << 1;
inline constexpr TShiftState ssCtrl = 1u << 2;
inline constexpr TShiftState ssLeft = 1u << 3;
inline constexpr TShiftState ssRight = 1u << 4;
inline constexpr TShiftState ssMiddle = 1u << 5;
inline constexpr TShiftState ssDouble = 1u << 6;

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});

// Shows the bitmap of its picture at the top-left corner, or stretched over the control.
class TImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool stretch READ Stretch WRITE setStretch)
public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    TPicture& Picture() { return picture_; }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    void setStretch(bool value) { SetStretch(value); }
    // Repaints after the picture's pixels changed.
    void Invalidate() {
        ++invalidations_;
        update();
    }
    // Counts Invalidate calls: a caller that draws often can tell whether others drew too.
    uint64_t Invalidations() const { return invalidations_; }

signals:
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void MouseMove(TShiftState shift, int x, int y);
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    void DblClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TPicture picture_;
    bool stretch_ = false;
    uint64_t invalidations_ = 0;
};

// A group box of radio buttons with one selected item (or none, index -1).
class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ Items WRITE setItems)
    Q_PROPERTY(int itemIndex READ ItemIndex WRITE setItemIndex)
    Q_PROPERTY(int columns READ Columns WRITE setColumns)
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    QStringList Items() const { return items_; }
    void SetItems(const QStringList& items);
    int Count() const { return static_cast<int>(items_.size()); }
    int ItemIndex() const { return itemIndex_; }
    // Kept within -1 .. Count - 1: larger values select the last item, smaller ones none.
    void SetItemIndex(int value);
    int Columns() const { return columns_; }
    void SetColumns(int value);
    QRadioButton* Button(int index) const;

    // Design-time setters (the form's layout file).
    void setItems(const QStringList& items) { SetItems(items); }
    void setItemIndex(int value) { SetItemIndex(value); }
    void setColumns(int value) { SetColumns(value); }

signals:
    // The selection changed, by the user or the program.
    void Click();

private:
    void Rebuild();
    void ShowIndex();
    QStringList items_;
    int itemIndex_ = -1;
    int columns_ = 1;
    QButtonGroup* group_;
    QGridLayout* grid_;
    std::vector<QRadioButton*> buttons_;
};

// A horizontal track bar; Change comes only when the position really changes.
class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget* parent = nullptr);
    int Position() const { return value(); }
    // Kept within Min .. Max.
    void SetPosition(int value) { setValue(value); }
    int Min() const { return minimum(); }
    int Max() const { return maximum(); }

signals:
    void Change();
};

// A flat button; buttons of one parent with the same GroupIndex (> 0) are exclusive: setting
// one down puts the others up.
class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(int groupIndex READ GroupIndex WRITE setGroupIndex)
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int value);
    void setGroupIndex(int value) { SetGroupIndex(value); }
    bool Down() const;
    void SetDown(bool value);
    // Runs the click handler as a click would, also while the button is disabled.
    void Click();

private:
    void PutOthersUp();
    int groupIndex_ = 0;
};
