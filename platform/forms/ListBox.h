// TListBox: an owner-drawn list box with items of one fixed height.
#pragma once

#include "platform/forms/ControlCanvas.h"
#include "platform/graphics/Types.h"

#include <QListWidget>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

using TOwnerDrawState = uint32_t;
inline constexpr TOwnerDrawState odSelected = 1u << 0;
inline constexpr TOwnerDrawState odFocused = 1u << 4;

class TListBox : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(int itemHeight READ ItemHeight WRITE setItemHeight)
public:
    explicit TListBox(QWidget* parent = nullptr);
    ~TListBox() override;

    int Count() const { return count(); }
    // The items' texts (Items.Clear, Items.Add); clearing drops the selection.
    void ClearItems();
    void AddItem(const std::string& text);
    // The selected item, or -1.
    int ItemIndex() const;
    void SetItemIndex(int value);
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int value);
    void setItemHeight(int value) { SetItemHeight(value); }

    // Draws item Index into Rect the way the list does: the canvas prepared with the list's
    // font and the highlight or window colour, then OnDrawItem. An exception of the handler is
    // shown once per item in the default error box, after the painting.
    void PaintItem(QPainter& painter, int index, const QRect& rect, TOwnerDrawState state);

    // Draws one item. A plain function rather than a signal, so that its exceptions reach the
    // painting; without it the item's text is drawn.
    std::function<void(TControlCanvas& canvas, int index, TRect rect, TOwnerDrawState state)>
        OnDrawItem;

signals:
    void DblClick();
    // A typed character; Enter is 13.
    void KeyPress(char& key);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Delegate;
    int itemHeight_ = 16;
    // Items whose drawing failed since the last clear: their error was shown already, and a
    // box over the list must not bring the next repaint's error back at once.
    std::set<int> failedItems_;
};
