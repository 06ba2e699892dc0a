// The window and its controls.  Each control is made with its owner form,
// its name and its bounds (left, top, width, height in pixels of the form's
// client area); the Qt widget behind it is reachable for tests only.
#pragma once

#include "toolkit/bitmap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class QPushButton;
class QLineEdit;
class QPlainTextEdit;
class QLabel;
class QStatusBar;
class TForm;

struct TBounds {
    int left;
    int top;
    int width;
    int height;
};

// A font by name and pixel height; a missing family falls back to a
// sans-serif font of the same height.  color is 0xRRGGBB.
struct TFont {
    std::string name;
    int pixelHeight;
    std::uint32_t color;
};
constexpr std::uint32_t clWindowText = 0x000000;
constexpr std::uint32_t clMaroon = 0x800000;

class TObject {
public:
    virtual ~TObject() = default;
};

class TControl : public TObject {
public:
    TControl(TForm& owner, const std::string& name, QWidget* widget, TBounds bounds, int tabOrder);
    const std::string& Name() const { return name; }
    QWidget* widget() const { return w; }
    int TabOrder() const { return tabOrder; }

private:
    std::string name;
    QWidget* w;
    int tabOrder;
};

class TButton : public TControl {
public:
    TButton(TForm& owner, const std::string& name, const std::string& caption, TBounds bounds, int tabOrder);
    // Binds a handler of the form; it runs inside the application's guard.
    template <class Form>
    void OnClick(Form* form, void (Form::*handler)(TObject*))
    {
        SetOnClick([form, handler](TObject* sender) { (form->*handler)(sender); });
    }
    void SetOnClick(std::function<void(TObject*)> handler);
    QPushButton* button() const;

private:
    TForm& owner;
};

class TEdit : public TControl {
public:
    TEdit(TForm& owner, const std::string& name, const std::string& text, TBounds bounds, int tabOrder);
    void SetText(const std::string& text);
    std::string GetText() const;
    QLineEdit* edit() const;
};

// The lines of a multi-line text.
class TStrings {
public:
    explicit TStrings(QPlainTextEdit* edit) : edit(edit) {}
    void Append(const std::string& line);
    int Count() const;
    std::string operator[](int index) const;
    // Writes every line followed by a newline, UTF-8, replacing the file only
    // once the whole text is written.  Throws std::runtime_error on failure,
    // leaving any existing file as it was.
    void SaveToFile(const std::string& path) const;

private:
    QPlainTextEdit* edit;
};

class TMemo : public TControl {
public:
    TMemo(TForm& owner, const std::string& name, const std::string& firstLine, TBounds bounds, int tabOrder);
    TStrings Lines;
    QPlainTextEdit* memo() const;
};

class TLabel : public TControl {
public:
    TLabel(TForm& owner, const std::string& name, const std::string& caption, TBounds bounds, const TFont& font);
    std::string GetCaption() const;
};

class TStatusBar : public TControl {
public:
    TStatusBar(TForm& owner, const std::string& name, TBounds bounds);
    void SetSimpleText(const std::string& text);
    std::string GetSimpleText() const;

private:
    QLabel* text;
};

enum class TPictureAlign { topLeft, centre };

// Shows its bitmap unscaled and clipped to the box.
class TImage : public TControl {
public:
    TImage(TForm& owner, const std::string& name, TBounds bounds, TPictureAlign align);
    ~TImage() override;
    // The picture's bitmap, created empty if there is none.
    TBitmap& GetBitmap();
    // Drops the picture: the box shows nothing until a bitmap is made again.
    void Clear();
    void Refresh();

private:
    std::unique_ptr<TBitmap> bitmap;
};

class TForm : public TObject {
public:
    TForm(const std::string& caption, TBounds outer, TBounds client, const TFont& font);
    ~TForm() override;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    void Show();
    void Close();
    QWidget* widget() const { return window; }

    // Called by the toolkit after each handler: pictures repaint what changed.
    void AfterHandler();
    // Tab order follows the controls' tab order numbers.
    void ApplyTabOrder();
    void Register(TControl* control);
    void Register(TImage* image);

private:
    QWidget* window;
    std::vector<TControl*> controls;
    std::vector<TImage*> images;
};
