// The album window: the entries of the album folder with their thumbnails; opens an entry in
// the main window or deletes it.
#pragma once

#include "platform/classes/Classes.h"
#include "platform/forms/Controls.h"
#include "platform/forms/ListBox.h"
#include "ui_album_U.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

class TMainForm;

class TAlbumForm : public QWidget {
    Q_OBJECT
public:
    // Created after the main window, whose album folder it lists; lives as long as it.
    explicit TAlbumForm(TMainForm& MainForm, QWidget* parent = nullptr);
    ~TAlbumForm() override;

    void FormCreate();
    void FormDestroy();
    void RefreshAlbum();

    void AlbumListBoxDrawItem(TControlCanvas& Canvas, int Index, TRect Rect, TOwnerDrawState State);
    void AlbumListBoxDblClick();
    void AlbumListBoxKeyPress(char& Key);
    void OpenBitBtnClick();
    void CloseBitBtnClick();
    void DelBitBtnClick();
    void FormKeyDown(uint16_t& Key, TShiftState Shift);

private:
    friend class TAlbumFormTestAccess;

    bool PreviewEvent(QEvent& event);

    Ui::TAlbumForm ui;
    TMainForm& FMainForm;
    // The entry names in display order, one per list item.
    std::unique_ptr<TStringList> FNames;
};
