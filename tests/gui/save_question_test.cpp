// Every save asks before it replaces a file, about the name it actually writes (the format may add
// or swap the extension), and "No" writes nothing. The dialogs run modally, driven from inside
// their own event loops.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/test_data.h"
#include "fileio/png_probe.h"
#include "gui/alpha_menu.h"
#include "gui/icon_form.h"
#include "gui/lossy_form.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/palette_commands.h"
#include "gui/picture_dialogs.h"
#include "gui/save_question.h"
#include "gui_app.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

// Failures show the question's text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << s.toStdString(); }

namespace {

// Hands each modal window to `act` once per appearance (a dialog shown again counts anew).
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == handled_) return;
            handled_ = w;
            if (w) act_(w);
        });
        timer_.start(10);
    }

private:
    std::function<void(QWidget*)> act_;
    QWidget* handled_ = nullptr;
    QTimer timer_;
};

std::vector<uint8_t> Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QString Question(const fs::path& p) {
    return QString("\"%1\" already exists.\nDo you want to replace it?").arg(QString::fromStdString(p.string()));
}

class SaveQuestionTest : public MainWindowTest {
protected:
    // Runs `open` (which shows a save dialog); the first dialog gets `name` typed under filter
    // `filter` (1-based) and is accepted, a question is answered `answer`, a dialog shown again is
    // cancelled. Returns the questions asked.
    QStringList Drive(const std::function<void()>& open, const QString& name, int filter, QMessageBox::StandardButton answer) {
        QStringList asked;
        int dialogs = 0;
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                asked << box->text();
                box->button(answer)->click();
            } else if (auto* d = qobject_cast<QFileDialog*>(w)) {
                if (dialogs++ > 0) {
                    d->reject();
                    return;
                }
                d->setDirectory(QString::fromStdString(base_.string()));
                d->selectNameFilter(d->nameFilters().at(filter - 1));
                // Typed as the user types it (selectFile leaves a focused name box alone).
                auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(edit, nullptr);
                edit->setText(name);
                QMetaObject::invokeMethod(d, "accept");  // as the Save button does
            }
        });
        open();
        return asked;
    }
    static const std::vector<uint8_t>& Mine() {
        static const std::vector<uint8_t> bytes = {'m', 'i', 'n', 'e'};
        return bytes;
    }
    fs::path Existing(const std::string& name) { return Write(name, Mine()); }
    std::size_t Entries() const { return std::size_t(std::distance(fs::directory_iterator(base_), fs::directory_iterator())); }
};

TEST_F(SaveQuestionTest, SaveAsAsksAboutTheFileItWritesInEveryFormat) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form_->State().HasImage());
    const char* const extensions[] = {"png", "gif", "bmp", "tga", "webp", "jpg"};
    for (int filter = 1; filter <= 6; ++filter) {
        SCOPED_TRACE(filter);
        const fs::path existing = Existing(std::string("photo.") + extensions[filter - 1]);
        const std::size_t entries = Entries();
        // Typed without extension, and with one that names no format of the dialog.
        for (const QString typed : {"photo", "photo.xyz"}) {
            const QStringList asked = Drive([&] { form_->SaveCommands().SaveAsClick(); }, typed, filter, QMessageBox::No);
            EXPECT_EQ(asked, QStringList{Question(existing)}) << typed.toStdString();
            EXPECT_EQ(Bytes(existing), Mine());
            EXPECT_EQ(Entries(), entries);
        }
        EXPECT_FALSE(form_->FileDialogs().LossyForm()->isVisible());
    }

    // Yes replaces it; a free name asks nothing.
    const fs::path bmp = base_ / "photo.bmp";
    EXPECT_EQ(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "photo", 3, QMessageBox::Yes), QStringList{Question(bmp)});
    EXPECT_EQ(Bytes(bmp).at(0), 'B');
    EXPECT_TRUE(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "fresh", 3, QMessageBox::No).isEmpty());
    EXPECT_TRUE(fs::exists(base_ / "fresh.bmp"));
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("; ").toStdString();
}

TEST_F(SaveQuestionTest, TheTypedExtensionChoosesTheFormat) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form_->State().HasImage());
    jx::TMySavePictureDialog* d = form_->FileDialogs().SavePictureDialog();
    // After a save as BMP the list still shows BMP; "ref.png" typed is written as PNG.
    EXPECT_TRUE(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "first", 3, QMessageBox::No).isEmpty());
    ASSERT_TRUE(fs::exists(base_ / "first.bmp"));
    EXPECT_TRUE(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "ref.png", 3, QMessageBox::No).isEmpty());
    EXPECT_EQ(d->FilterIndex(), 1);  // the list followed the name
    ASSERT_TRUE(fs::exists(base_ / "ref.png"));
    EXPECT_FALSE(fs::exists(base_ / "ref.bmp"));
    const std::vector<uint8_t> png = Bytes(base_ / "ref.png");
    ASSERT_GE(png.size(), 4u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    // Case aside, and the question names the file the format writes.
    const fs::path gif = Existing("shout.gif");
    EXPECT_EQ(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "shout.GIF", 1, QMessageBox::No), QStringList{Question(gif)});
    EXPECT_EQ(Bytes(gif), Mine());
    EXPECT_EQ(d->FilterIndex(), 2);
    // PNG chosen and "lossy.jpg" typed goes to the JPEG quality dialog for lossy.jpg.
    EXPECT_TRUE(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "lossy.jpg", 1, QMessageBox::No).isEmpty());
    EXPECT_FALSE(fs::exists(base_ / "lossy.png"));
    jx::TLossyForm* lossy = form_->FileDialogs().LossyForm();
    EXPECT_TRUE(lossy->isVisible());
    lossy->close();
    EXPECT_FALSE(fs::exists(base_ / "lossy.png"));
}

TEST_F(SaveQuestionTest, TheQualityDialogAsksWhenAFileAppearedSinceTheNameWasChosen) {
    if (!fs::exists("/usr/bin/cjpeg")) GTEST_SKIP() << "cjpeg missing";
    form_->OpenImage(SuiteFile("basn2c08.png"));
    const fs::path dest = base_ / "late.jpg";
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "late").string()), 6));
    jx::TLossyForm* d = form_->FileDialogs().LossyForm();
    ASSERT_TRUE(d->isVisible());
    Existing("late.jpg");
    EXPECT_EQ(Drive([&] { d->SaveClick(); }, {}, 1, QMessageBox::No), QStringList{Question(dest)});
    EXPECT_EQ(Bytes(dest), Mine());
    EXPECT_TRUE(d->isVisible());  // still there to save once the way is clear
    EXPECT_EQ(Drive([&] { d->SaveClick(); }, {}, 1, QMessageBox::Yes), QStringList{Question(dest)});
    EXPECT_NE(Bytes(dest), Mine());
    EXPECT_FALSE(d->isVisible());
}

TEST_F(SaveQuestionTest, IconAndPaletteSavesAskAboutTheExtensionTheyGive) {
    form_->OpenImage(SuiteFile("basn3p02.png"));
    ASSERT_GT(form_->State().PaletteSize, 0);
    const fs::path pal = Existing("colours.pal");
    const fs::path act = Existing("colours.act");
    for (const auto& [filter, file] : {std::pair{1, pal}, std::pair{2, act}}) {
        EXPECT_EQ(Drive([&] { form_->PaletteCommands().SavePalClick(); }, "colours", filter, QMessageBox::No),
                  QStringList{Question(file)});
        EXPECT_EQ(Bytes(file), Mine());
    }
    // A typed ".act" decides the format whatever the filter: the question names it.
    EXPECT_EQ(Drive([&] { form_->PaletteCommands().SavePalClick(); }, "colours.act", 1, QMessageBox::Yes),
              QStringList{Question(act)});
    EXPECT_EQ(fs::file_size(act), 768u);
    EXPECT_EQ(Bytes(pal), Mine());

    // "Save icon" swaps the extension typed for the type's own.
    const fs::path ico = Existing("frames.ico");
    jx::TIconForm* icon = form_->FileDialogs().IconForm();
    EXPECT_EQ(Drive([&] { icon->SaveIconClick(); }, "frames.png", 1, QMessageBox::No), QStringList{Question(ico)});
    EXPECT_EQ(Bytes(ico), Mine());
    EXPECT_FALSE(fs::exists(base_ / "frames.png"));
}

TEST_F(SaveQuestionTest, ANameWithADoubleQuoteIsRefusedAndNothingIsWritten) {
    // The file dialog would take the quoted piece for the name: "sub/b.png", in another folder.
    form_->OpenImage(SuiteFile("basn3p02.png"));
    ASSERT_GT(form_->State().PaletteSize, 0);
    fs::create_directory(base_ / "sub");
    const std::size_t entries = Entries();
    const QString typed = "a \"sub/b.png";
    const QStringList asked = Drive([&] { form_->SaveCommands().SaveAsClick(); }, typed, 1, QMessageBox::Ok);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].startsWith("A file name cannot hold a double quote")) << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains(typed));
    EXPECT_EQ(Entries(), entries);
    EXPECT_TRUE(fs::is_empty(base_ / "sub"));
    // The palette and icon saves go through the same dialog road.
    EXPECT_EQ(Drive([&] { form_->PaletteCommands().SavePalClick(); }, typed, 1, QMessageBox::Ok).size(), 1);
    EXPECT_EQ(Entries(), entries);
    EXPECT_TRUE(fs::is_empty(base_ / "sub"));
}

// An icon's frame opens from the session folder, which jx removes when it closes: the dialogs
// start in the icon's folder, and a save through a dialog into the session folder is refused.
TEST_F(SaveQuestionTest, DialogsStartBesideTheIconAndRefuseTheSessionFolder) {
    std::vector<uint8_t> ico;
    jx::test::Put16(ico, 0);
    jx::test::Put16(ico, 1);
    jx::test::Put16(ico, 2);
    std::vector<std::vector<uint8_t>> pngs;
    for (uint32_t side : {16u, 32u}) pngs.push_back(jx::EncodePngRgba(side, side, true, std::vector<uint8_t>(side * side * 4, 200)));
    uint32_t offset = 6 + 16 * 2;
    for (const auto& png : pngs) {
        const uint8_t side = png == pngs[0] ? 16 : 32;
        ico.insert(ico.end(), {side, side, 0, 0});
        jx::test::Put16(ico, 1);
        jx::test::Put16(ico, 32);
        jx::test::Put32(ico, uint32_t(png.size()));
        jx::test::Put32(ico, offset);
        offset += uint32_t(png.size());
    }
    for (const auto& png : pngs) ico.insert(ico.end(), png.begin(), png.end());
    fs::create_directory(base_ / "pics");
    const std::string icon = Write("pics/two.ico", ico);
    form_->OpenImage(QString::fromStdString(icon));
    jx::TIconForm* frames = form_->FileDialogs().IconForm();
    ASSERT_TRUE(frames->isVisible());
    ASSERT_EQ(form_->State().ImageWidth(), 32);
    frames->close();

    const QString pics = QDir(QString::fromStdString((base_ / "pics").string())).canonicalPath();
    const QString session = QDir(QString::fromStdString(session_->Path())).canonicalPath();
    const auto sessionEntries = [&] { return std::distance(fs::directory_iterator(session_->Path()), fs::directory_iterator()); };
    const auto before = sessionEntries();

    // Save As: it starts beside the icon; the frame's name typed into the session folder is refused.
    QStringList started, asked;
    int dialogs = 0;
    {
        ModalDriver driver([&](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                asked << box->text();
                box->button(QMessageBox::Ok)->click();
            } else if (auto* d = qobject_cast<QFileDialog*>(w)) {
                started << QDir(d->directory().absolutePath()).canonicalPath();
                if (dialogs++ > 0) {
                    d->reject();
                    return;
                }
                d->setDirectory(session);
                d->findChild<QLineEdit*>("fileNameEdit")->setText("frame");
                QMetaObject::invokeMethod(d, "accept");
            }
        });
        form_->SaveCommands().SaveAsClick();
    }
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], QString("\"%1\" lies in jx's session folder, which is removed when jx closes.\n"
                                "Please save in another folder.")
                            .arg(session + "/frame.png"));
    ASSERT_EQ(started.size(), 2);
    EXPECT_EQ(started[0], pics);
    EXPECT_EQ(sessionEntries(), before);
    EXPECT_FALSE(fs::exists(session_->FilePath("frame.png")));

    // The Open and background-picture dialogs start there too.
    started.clear();
    {
        ModalDriver driver([&](QWidget* w) {
            if (auto* d = qobject_cast<QFileDialog*>(w)) {
                started << QDir(d->directory().absolutePath()).canonicalPath();
                d->reject();
            }
        });
        form_->OpenClick();
        (void)form_->AlphaCommands().PictureFileDialog();
    }
    EXPECT_EQ(started, (QStringList{pics, pics}));

    // A save beside the icon goes ahead; the frames dialog's own save is not a dialog's.
    EXPECT_TRUE(Drive([&] { form_->SaveCommands().SaveAsClick(); }, "kept", 1, QMessageBox::No).isEmpty());
    EXPECT_TRUE(fs::exists(base_ / "kept.png"));
    EXPECT_TRUE(jx::InSessionFolder(session_->Path(), QString::fromStdString(session_->FilePath("x.png"))));
    EXPECT_TRUE(jx::InSessionFolder(session_->Path(), QString::fromStdString(session_->Path() + "sub/x.png")));
    EXPECT_FALSE(jx::InSessionFolder(session_->Path(), QString::fromStdString((base_ / "kept.png").string())));
}

}  // namespace
