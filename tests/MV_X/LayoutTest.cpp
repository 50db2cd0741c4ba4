// The main window at its design size and at its minimum size: the whole help line shows, on as
// many rows as it needs, and no control of the panel is cut.
#include "Harness.h"

#include <QFontMetrics>
#include <QStatusBar>

class LayoutTest : public PlayerTest {
protected:
    // Everything the user reads lies inside the window, and the help line's label is high
    // enough for its text wrapped at the label's own width.
    void ExpectNothingCut(TMainForm& f, const std::string& help) {
        QCoreApplication::processEvents();
        const QLabel& label = Access::StatusLabel(f);
        EXPECT_EQ(label.text().toStdString(), help);
        const QRect need = QFontMetrics(label.font())
                               .boundingRect(QRect(0, 0, label.width(), QWIDGETSIZE_MAX),
                                             Qt::TextWordWrap, label.text());
        EXPECT_GE(label.height(), need.height()) << f.width() << " x " << f.height();
        const QRect inWindow(label.mapTo(&f, QPoint(0, 0)), label.size());
        EXPECT_TRUE(f.rect().contains(inWindow)) << f.width() << " x " << f.height();
        Ui::TMainForm& ui = Access::Form(f);
        for (const QWidget* c : ui.InfoPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!c->isHidden()) {
                EXPECT_TRUE(ui.InfoPanel->rect().contains(c->geometry()))
                    << c->objectName().toStdString() << " at " << f.width() << " x " << f.height();
            }
    }
};

TEST_F(LayoutTest, HelpLineAndPanelAreWholeAtTheDesignAndTheMinimumSize) {
    TMainForm& f = MakeForm();
    f.show();
    f.resize(820, 615);
    ExpectNothingCut(f, Access::PlayHelp(f));
    // At the design width the key list needs a second row, and gets it whole.
    const QLabel& label = Access::StatusLabel(f);
    EXPECT_GE(label.height(), 2 * QFontMetrics(label.font()).lineSpacing());

    f.resize(1, 1);
    EXPECT_EQ(f.size(), f.minimumSize());
    EXPECT_GT(f.minimumWidth(), Access::Form(f).InfoPanel->width());
    ExpectNothingCut(f, Access::PlayHelp(f));
    f.hide();
}
