#include "toolkit/controls.h"

#include "toolkit/application.h"
#include "toolkit/bitmap_qt.h"
#include "pictures/files.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBlock>
#include <QWidget>

#include <algorithm>
#include <stdexcept>

namespace {

QFont makeFont(const TFont& f)
{
    QFont font(QString::fromStdString(f.name));
    font.setPixelSize(f.pixelHeight);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void setTextColour(QWidget* w, std::uint32_t rgb)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, QColor::fromRgb(static_cast<QRgb>(rgb)));
    w->setPalette(p);
}

class PictureBox : public QWidget {
public:
    PictureBox(QWidget* parent, TPictureAlign align) : QWidget(parent), align(align) {}
    const TBitmap* bitmap = nullptr;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!bitmap || bitmap->Empty()) return;
        const QImage image = displayImage(*bitmap);
        QPoint origin(0, 0);
        if (align == TPictureAlign::centre)
            origin = QPoint((width() - image.width()) / 2, (height() - image.height()) / 2);
        QPainter painter(this);
        painter.drawImage(origin, image);
    }

private:
    TPictureAlign align;
};

}  // namespace

TControl::TControl(TForm& owner, const std::string& name_, QWidget* widget, TBounds b, int tabOrder_)
    : name(name_), w(widget), tabOrder(tabOrder_)
{
    w->setObjectName(QString::fromStdString(name));
    w->setGeometry(b.left, b.top, b.width, b.height);
    if (tabOrder < 0) w->setFocusPolicy(Qt::NoFocus);
    owner.Register(this);
}

TButton::TButton(TForm& owner_, const std::string& name, const std::string& caption, TBounds bounds, int tabOrder)
    : TControl(owner_, name, new QPushButton(QString::fromStdString(caption), owner_.widget()), bounds, tabOrder),
      owner(owner_)
{
}

void TButton::SetOnClick(std::function<void(TObject*)> handler)
{
    QObject::connect(button(), &QPushButton::clicked, button(), [this, handler] {
        Application->RunGuarded([&] { handler(this); });
        owner.AfterHandler();
    });
}

QPushButton* TButton::button() const { return static_cast<QPushButton*>(widget()); }

TEdit::TEdit(TForm& owner, const std::string& name, const std::string& text, TBounds bounds, int tabOrder)
    : TControl(owner, name, new QLineEdit(QString::fromStdString(text), owner.widget()), bounds, tabOrder)
{
}

void TEdit::SetText(const std::string& text)
{
    edit()->setText(QString::fromStdString(text));
    // A text longer than the box shows its start (D first), not its end.
    edit()->setCursorPosition(0);
}
std::string TEdit::GetText() const { return edit()->text().toStdString(); }
QLineEdit* TEdit::edit() const { return static_cast<QLineEdit*>(widget()); }

void TStrings::Append(const std::string& line)
{
    if (Count() == 0)
        edit->setPlainText(QString::fromStdString(line));
    else
        edit->appendPlainText(QString::fromStdString(line));
}

int TStrings::Count() const
{
    if (edit->document()->isEmpty()) return 0;
    return edit->document()->blockCount();
}

std::string TStrings::operator[](int index) const
{
    if (index < 0 || index >= Count()) throw std::out_of_range("TStrings: no line " + std::to_string(index));
    return edit->document()->findBlockByNumber(index).text().toStdString();
}

void TStrings::SaveToFile(const std::string& path) const
{
    QString text;
    for (int i = 0; i < Count(); ++i) text += QString::fromStdString((*this)[i]) + '\n';
    try {
        writeFileAtomically(path, text.toUtf8().toStdString());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("Nie można zapisać do \"" + displayFileName(path) + "\": " + e.what());
    }
}

TMemo::TMemo(TForm& owner, const std::string& name, const std::string& firstLine, TBounds bounds, int tabOrder)
    : TControl(owner, name, new QPlainTextEdit(QString::fromStdString(firstLine), owner.widget()), bounds, tabOrder),
      Lines(memo())
{
    memo()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QPlainTextEdit* TMemo::memo() const { return static_cast<QPlainTextEdit*>(widget()); }

TLabel::TLabel(TForm& owner, const std::string& name, const std::string& caption, TBounds bounds, const TFont& font)
    : TControl(owner, name, new QLabel(QString::fromStdString(caption), owner.widget()), bounds, -1)
{
    widget()->setFont(makeFont(font));
    setTextColour(widget(), font.color);
}

std::string TLabel::GetCaption() const { return static_cast<QLabel*>(widget())->text().toStdString(); }

TStatusBar::TStatusBar(TForm& owner, const std::string& name, TBounds bounds)
    : TControl(owner, name, new QStatusBar(owner.widget()), bounds, -1), text(new QLabel)
{
    auto* bar = static_cast<QStatusBar*>(widget());
    bar->setSizeGripEnabled(false);
    bar->addWidget(text, 1);
}

void TStatusBar::SetSimpleText(const std::string& t) { text->setText(QString::fromStdString(t)); }
std::string TStatusBar::GetSimpleText() const { return text->text().toStdString(); }

TImage::TImage(TForm& owner, const std::string& name, TBounds bounds, TPictureAlign align)
    : TControl(owner, name, new PictureBox(owner.widget(), align), bounds, -1)
{
    owner.Register(this);
}

TImage::~TImage() = default;

TBitmap& TImage::GetBitmap()
{
    if (!bitmap) {
        bitmap = std::make_unique<TBitmap>();
        static_cast<PictureBox*>(widget())->bitmap = bitmap.get();
    }
    return *bitmap;
}

void TImage::Clear()
{
    static_cast<PictureBox*>(widget())->bitmap = nullptr;
    bitmap.reset();
    Refresh();
}

void TImage::Refresh() { widget()->update(); }

TForm::TForm(const std::string& caption, TBounds outer, TBounds client, const TFont& font) : window(new QWidget)
{
    window->setWindowTitle(QString::fromStdString(caption));
    window->setFont(makeFont(font));
    setTextColour(window, font.color);
    QPalette p = window->palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    window->setPalette(p);
    window->setAutoFillBackground(true);
    window->resize(client.width, client.height);
    window->move(outer.left, outer.top);
}

TForm::~TForm() { delete window; }

void TForm::Show() { window->show(); }
void TForm::Close() { window->close(); }

void TForm::AfterHandler()
{
    for (TImage* image : images) image->Refresh();
}

void TForm::ApplyTabOrder()
{
    std::vector<TControl*> ordered;
    for (TControl* c : controls)
        if (c->TabOrder() >= 0) ordered.push_back(c);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TControl* a, const TControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (std::size_t i = 1; i < ordered.size(); ++i) QWidget::setTabOrder(ordered[i - 1]->widget(), ordered[i]->widget());
}

void TForm::Register(TControl* control) { controls.push_back(control); }
void TForm::Register(TImage* image) { images.push_back(image); }
