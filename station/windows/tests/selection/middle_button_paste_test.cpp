// The primary selection pasted with the middle button, as X11 offers it: the
// offscreen platform has no selection, so this runs under a real X server
// (xvfb-run -a, platform xcb).
#include <QClipboard>
#include <QGuiApplication>

#include <cstring>
#include <string>
#include <vector>

#include "station/windows/tests/window_fixture.h"

namespace station {
namespace {

using testing::Ini;
using testing::Products;
using testing::SelectEepromType;

class MiddleButtonPasteTest : public testing::WindowTest {
 public:
  std::vector<uint8_t> Block() const {
    const auto& block = form_->Settings().OptionBlock;
    return std::vector<uint8_t>(std::begin(block), std::end(block));
  }
};

// A middle-button paste into the serial entry goes in whole or not at all,
// as a keyboard paste does.
TEST_F(MiddleButtonPasteTest, SerialSelectionPastesAreTakenWholeOrRefused) {
  if (!QGuiApplication::clipboard()->supportsSelection())
    GTEST_SKIP() << "no selection clipboard on " << QGuiApplication::platformName().toStdString();
  struct Case {
    const char* selected;
    const char* after;  // the entry's text
    bool refused;
  };
  const Case cases[] = {
      {"12g", "12", true},
      {"12ab", "1212AB", false},
  };
  WriteIni(Ini("", "[QVEXECUTE]\r\nEnEEPROMUpdate=1\r\n"));
  Bench(Products(13, 1));
  Start();
  SelectEepromType(*form_, Combo("EEPROMType"), 2);
  QLineEdit* edit = Edit("String3Edit");
  ASSERT_TRUE(edit->isEnabled());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selected);
    Type(edit, "12");
    const std::vector<uint8_t> before = Block();
    boxes_.clear();
    QGuiApplication::clipboard()->setText(c.selected, QClipboard::Selection);
    ASSERT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), c.selected);
    QTest::mouseClick(edit, Qt::MiddleButton);
    EXPECT_EQ(edit->text().toStdString(), c.after);
    EXPECT_EQ(Messages(), c.refused ? std::vector<std::string>{"Error Serial Number content (0-9 a-f A-F)!"}
                                    : std::vector<std::string>{});
    if (c.refused) EXPECT_EQ(Block(), before);
    else EXPECT_NE(Block(), before);
  }
}

}  // namespace
}  // namespace station
