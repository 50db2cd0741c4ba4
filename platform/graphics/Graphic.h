// The abstract picture (TGraphic) and the picture container with its file-format registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/classes/Classes.h"
#include "platform/graphics/Palette.h"
#include "platform/graphics/Types.h"

class TCanvas;
class TBitmap;

enum TProgressStage { psStarting, psRunning, psEnding };

using TProgressEvent =
    std::function<void(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                       const TRect& r, const std::string& msg)>;

class TGraphic;

// A graphic class: its name and how to make an instance, for the file-format registry.
struct TGraphicClassInfo {
    std::string className;
    std::function<std::unique_ptr<TGraphic>()> create;
};
using TGraphicClass = const TGraphicClassInfo*;

// The class object of T (one per type), e.g. GraphicClassOf<TBitmap>().
template <class T>
TGraphicClass GraphicClassOf() {
    static const TGraphicClassInfo info{T::StaticClassName(), [] { return std::make_unique<T>(); }};
    return &info;
}

class TGraphic : public TObject {
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual std::string ClassName() const = 0;

    // Takes the picture of Source; none empties it where the class allows that. The base asks
    // Source to assign itself to this and raises the assignment error when it cannot.
    virtual void Assign(const TGraphic* source);
    // Puts this picture into Dest; False when this class cannot (the caller then raises).
    virtual bool AssignTo(TGraphic& dest) const;

    virtual void Draw(TCanvas& canvas, const TRect& rect) const = 0;
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetHeight(int value) = 0;
    virtual HPALETTE Palette() const { return 0; }
    virtual void SetPalette(HPALETTE) {}
    bool Transparent() const { return GetTransparent(); }
    virtual bool GetTransparent() const { return transparent_; }
    virtual void SetTransparent(bool value);

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromFile(const std::string& fileName);
    virtual void SaveToFile(const std::string& fileName);
    // The form-data form; by default the same bytes as the stream form.
    virtual void ReadData(TStream& stream) { LoadFromStream(stream); }
    virtual void WriteData(TStream& stream) { SaveToStream(stream); }
    // The clipboard is not reachable here; the default raises EInvalidGraphic.
    virtual void LoadFromClipboardFormat(uint16_t format, uintptr_t data, HPALETTE palette);
    virtual void SaveToClipboardFormat(uint16_t& format, uintptr_t& data, HPALETTE& palette);

    // Fires OnChange with this as sender.
    virtual void Changed(TObject* sender);
    void Changed() { Changed(this); }

    // Calls OnProgress when assigned.
    void Progress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                  const TRect& r, const std::string& msg);

    bool PaletteModified = false;
    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

protected:
    [[noreturn]] void AssignError(const TGraphic* source) const;
    // Sets Transparent without a change event, for changes that report themselves once.
    void StoreTransparent(bool value) { transparent_ = value; }

private:
    bool transparent_ = false;
};

// Holds one graphic of any registered class and loads files by their extension.
class TPicture : public TObject {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return graphic_.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The graphic as a bitmap, replacing any other graphic by an empty bitmap.
    TBitmap& Bitmap();
    int Width() const;
    int Height() const;
    void Assign(const TPicture* source);
    void Assign(const TGraphic* source);

    // The class registered for the file's extension (without regard to case) loads it;
    // an unregistered extension raises EInvalidGraphic.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

    // The registry. Extension without the dot ("PNG"); later registrations win.
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicClass graphicClass);
    static void UnregisterGraphicClass(TGraphicClass graphicClass);
    struct FileFormat {
        std::string extension;
        std::string description;
        TGraphicClass graphicClass;
    };
    static std::vector<FileFormat> FileFormats();
    // "All (*.bmp;*.png)|*.bmp;*.png|Bitmaps (*.bmp)|*.bmp|..." for file dialogs.
    static std::string GraphicFilter();
    static TGraphicClass ClassForExtension(const std::string& extension);

private:
    void Changed(TObject* sender);
    void Hook();
    std::unique_ptr<TGraphic> graphic_;
};
