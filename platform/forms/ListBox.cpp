#include "platform/forms/ListBox.h"

#include "platform/forms/Forms.h"
#include "platform/rtl/Exceptions.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <exception>

namespace {

TColor FromQColor(const QColor& c) {
    return RGB(static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
               static_cast<uint8_t>(c.blue()));
}

std::string MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

} // namespace

class TListBox::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(TListBox& list) : QStyledItemDelegate(&list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        TOwnerDrawState state = 0;
        if (option.state & QStyle::State_Selected) state |= odSelected;
        if (option.state & QStyle::State_HasFocus) state |= odFocused;
        list_.PaintItem(*painter, index.row(), option.rect, state);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), list_.itemHeight_};
    }

private:
    TListBox& list_;
};

TListBox::TListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new Delegate(*this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
}

TListBox::~TListBox() = default;

void TListBox::ClearItems() {
    clear();
    failedItems_.clear();
}

void TListBox::AddItem(const std::string& text) {
    addItem(QString::fromStdString(text));
}

int TListBox::ItemIndex() const {
    const int row = currentRow();
    return row >= 0 && item(row) != nullptr && item(row)->isSelected() ? row : -1;
}

void TListBox::SetItemIndex(int value) {
    if (value < 0 || value >= count()) {
        setCurrentRow(-1);
        clearSelection();
        return;
    }
    setCurrentRow(value);
}

void TListBox::SetItemHeight(int value) {
    itemHeight_ = std::max(1, value);
    doItemsLayout();
}

void TListBox::PaintItem(QPainter& painter, int index, const QRect& rect, TOwnerDrawState state) {
    painter.save();
    painter.setClipRect(rect);
    TControlCanvas canvas(painter);
    const QPalette& colours = palette();
    const bool selected = (state & odSelected) != 0;
    canvas.Brush.Color = FromQColor(colours.color(selected ? QPalette::Highlight : QPalette::Base));
    canvas.Font.Name = font().family().toStdString();
    canvas.Font.Size = font().pointSize() > 0 ? font().pointSize() : 9;
    canvas.Font.Color =
        FromQColor(colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const TRect r =
        Rect(rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height());
    try {
        if (OnDrawItem) {
            OnDrawItem(canvas, index, r, state);
        } else {
            canvas.FillRect(r);
            if (const QListWidgetItem* it = item(index))
                canvas.TextOut(r.Left + 2, r.Top, it->text().toStdString());
        }
    } catch (...) {
        if (failedItems_.insert(index).second && Application != nullptr) {
            const std::string message = MessageOf(std::current_exception());
            QTimer::singleShot(0, this, [message] {
                if (Application != nullptr) Application->ShowException(message);
            });
        }
    }
    painter.restore();
}

void TListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    Guarded([&] { emit DblClick(); });
}

void TListBox::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    if (text.size() == 1 && text[0].unicode() < 0x80) {
        char key = static_cast<char>(text[0].unicode());
        Guarded([&] { emit KeyPress(key); });
        if (key == 0) return;
    }
    QListWidget::keyPressEvent(event);
}
