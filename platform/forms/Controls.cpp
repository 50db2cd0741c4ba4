#include "platform/forms/Controls.h"

#include "platform/forms/BitmapImage.h"
#include "platform/forms/Forms.h"
#include "platform/graphics/Bitmap.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier) s |= ssShift;
    if (modifiers & Qt::AltModifier) s |= ssAlt;
    if (modifiers & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

namespace {
TMouseButton ButtonOf(Qt::MouseButton b) {
    if (b == Qt::RightButton) return mbRight;
    if (b == Qt::MiddleButton) return mbMiddle;
    return mbLeft;
}
} // namespace

// --- TImage

TImage::TImage(QWidget* parent) : QWidget(parent) {
    // Moves arrive without a button held too, as the platform sends them.
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

TImage::~TImage() = default;

void TImage::SetStretch(bool value) {
    stretch_ = value;
    update();
}

void TImage::paintEvent(QPaintEvent* event) {
    const TGraphic* graphic = picture_.Graphic();
    const auto* bitmap = dynamic_cast<const TBitmap*>(graphic);
    if (bitmap == nullptr || bitmap->Empty()) return;
    QPainter painter(this);
    if (stretch_) {
        painter.drawImage(rect(), BitmapToQImage(*bitmap));
        return;
    }
    // Only the exposed part is handed over: a large picture is mostly outside the view.
    const QRect exposed = event->rect() & QRect(0, 0, bitmap->Width(), bitmap->Height());
    if (exposed.isEmpty()) return;
    painter.drawImage(exposed.topLeft(), BitmapToQImage(*bitmap, exposed));
}

void TImage::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    Guarded([&] {
        emit MouseDown(ButtonOf(event->button()),
                       ShiftStateOf(event->modifiers(), event->buttons()), p.x(), p.y());
    });
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    Guarded(
        [&] { emit MouseMove(ShiftStateOf(event->modifiers(), event->buttons()), p.x(), p.y()); });
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    Guarded([&] {
        emit MouseUp(ButtonOf(event->button()), ShiftStateOf(event->modifiers(), event->buttons()),
                     p.x(), p.y());
    });
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    // The platform sends a press before the double click too.
    mousePressEvent(event);
    Guarded([&] { emit DblClick(); });
}

// --- TRadioGroup

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent), group_(new QButtonGroup(this)), grid_(new QGridLayout(this)) {
    grid_->setContentsMargins(6, 2, 4, 2);
    grid_->setSpacing(0);
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        if (id == itemIndex_) return;
        itemIndex_ = id;
        emit Click();
    });
}

void TRadioGroup::SetItems(const QStringList& items) {
    items_ = items;
    Rebuild();
}

void TRadioGroup::SetColumns(int value) {
    columns_ = std::max(1, value);
    Rebuild();
}

QRadioButton* TRadioGroup::Button(int index) const {
    return index >= 0 && index < static_cast<int>(buttons_.size()) ? buttons_[index] : nullptr;
}

void TRadioGroup::Rebuild() {
    for (QRadioButton* b : buttons_)
        delete b;
    buttons_.clear();
    const int n = Count();
    const int rows = (n + columns_ - 1) / columns_;
    for (int i = 0; i < n; ++i) {
        auto* b = new QRadioButton(items_[i], this);
        b->setFocusPolicy(Qt::TabFocus);
        group_->addButton(b, i);
        grid_->addWidget(b, rows > 0 ? i % rows : 0, rows > 0 ? i / rows : 0);
        buttons_.push_back(b);
    }
    if (itemIndex_ >= n) itemIndex_ = n - 1;
    ShowIndex();
}

void TRadioGroup::SetItemIndex(int value) {
    value = std::clamp(value, -1, Count() - 1);
    if (value == itemIndex_) return;
    itemIndex_ = value;
    ShowIndex();
    emit Click();
}

void TRadioGroup::ShowIndex() {
    group_->setExclusive(false);
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i)
        buttons_[i]->setChecked(i == itemIndex_);
    group_->setExclusive(true);
}

// --- TTrackBar

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::TicksBelow);
    setPageStep(1);
    connect(this, &QSlider::valueChanged, this, [this](int) { emit Change(); });
}

// --- TSpeedButton

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(false);
    connect(this, &QToolButton::toggled, this, [this](bool on) {
        if (on) PutOthersUp();
    });
    // A button of a group cannot be put up by clicking it again.
    connect(this, &QToolButton::clicked, this, [this](bool) {
        if (groupIndex_ > 0 && !isChecked()) setChecked(true);
    });
}

void TSpeedButton::SetGroupIndex(int value) {
    groupIndex_ = value;
    setCheckable(value > 0);
}

bool TSpeedButton::Down() const {
    return isCheckable() ? isChecked() : isDown();
}

void TSpeedButton::SetDown(bool value) {
    if (!isCheckable()) return;
    setChecked(value);
}

void TSpeedButton::Click() {
    emit clicked(isChecked());
}

void TSpeedButton::PutOthersUp() {
    if (groupIndex_ <= 0 || parentWidget() == nullptr) return;
    for (auto* other : parentWidget()->findChildren<TSpeedButton*>(Qt::FindDirectChildrenOnly))
        if (other != this && other->groupIndex_ == groupIndex_) other->setChecked(false);
}
