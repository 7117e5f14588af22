#include <QApplication>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <climits>
#include <set>

#include "controls/bk_dialog.h"
#include "controls/resources.h"
#include "controls/shade_button.h"
#include "controls/skin_math.h"
#include "controls/text_progress.h"
#include "render_widget.h"

using namespace tessaly::controls;

namespace {

QPixmap SolidIcon(QColor colour, int size = 16) {
  QPixmap icon(size, size);
  icon.fill(colour);
  return icon;
}

void Hover(QWidget& widget) {
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QApplication::sendEvent(&widget, &enter);
}

void Leave(QWidget& widget) {
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&widget, &leave);
}

void SendMouse(QWidget& widget, QEvent::Type type, QPoint at) {
  const Qt::MouseButtons held =
      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
  QMouseEvent event(type, QPointF(at), QPointF(widget.mapToGlobal(at)), Qt::LeftButton, held,
                    Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}

}  // namespace

class ControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Without a font the offscreen platform draws empty boxes and text checks mean nothing.
    QVERIFY2(!QFontDatabase::families().isEmpty(), "no font installed for the offscreen tests");
  }

  void shadePalette_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("expected");
    // highlight (255,255,255), face (0,0,0), shadow (100,50,10)
    QTest::newRow("0 is the shadow") << 0 << uint(MakeSkinRgb(100, 50, 10));
    QTest::newRow("32 truncates") << 32 << uint(MakeSkinRgb(75, 37, 7));
    QTest::newRow("128 keeps the second value") << 128 << uint(MakeSkinRgb(1, 1, 1));
    QTest::newRow("192") << 192 << uint(MakeSkinRgb(129, 129, 129));
    QTest::newRow("255 is the highlight") << 255 << uint(MakeSkinRgb(255, 255, 255));
  }
  void shadePalette() {
    QFETCH(int, index);
    QFETCH(uint, expected);
    const ShadePalette palette = BuildShadePalette(MakeSkinRgb(255, 255, 255), MakeSkinRgb(0, 0, 0),
                                                   MakeSkinRgb(100, 50, 10));
    QCOMPARE(palette[static_cast<size_t>(index)], expected);
  }

  void tint_data() {
    QTest::addColumn<uint>("entry");
    QTest::addColumn<int>("percent");
    QTest::addColumn<uint>("colour");
    QTest::addColumn<uint>("expected");
    QTest::newRow("5% blue") << uint(MakeSkinRgb(200, 100, 0)) << 5 << uint(kShadeTintColour)
                             << uint(MakeSkinRgb(192, 97, 12));
    QTest::newRow("20% white") << uint(MakeSkinRgb(10, 20, 30)) << 20
                               << uint(MakeSkinRgb(255, 255, 255)) << uint(MakeSkinRgb(59, 67, 75));
    QTest::newRow("over 100% is the colour")
        << uint(MakeSkinRgb(10, 20, 30)) << 150 << uint(MakeSkinRgb(1, 2, 3))
        << uint(MakeSkinRgb(1, 2, 3));
    QTest::newRow("negative leaves it")
        << uint(MakeSkinRgb(10, 20, 30)) << -10 << uint(MakeSkinRgb(1, 2, 3))
        << uint(MakeSkinRgb(10, 20, 30));
  }
  void tint() {
    QFETCH(uint, entry);
    QFETCH(int, percent);
    QFETCH(uint, colour);
    QFETCH(uint, expected);
    QCOMPARE(TintColour(entry, percent, colour), expected);
  }

  void greyLevel_data() {
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");
    QTest::addColumn<int>("grey");
    QTest::newRow("black") << 0 << 0 << 0 << 0;
    QTest::newRow("white") << 255 << 255 << 255 << 255;
    QTest::newRow("red") << 255 << 0 << 0 << 76;
    QTest::newRow("green") << 0 << 255 << 0 << 149;
    QTest::newRow("blue") << 0 << 0 << 255 << 29;
    QTest::newRow("double sum truncates below 45") << 0 << 72 << 24 << 44;
  }
  void greyLevel() {
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);
    QFETCH(int, grey);
    QCOMPARE(GreyLevel(red, green, blue), grey);
  }

  void shadePixels() {
    QCOMPARE(ShadeBaseValue(0, 28), 0);
    QCOMPARE(ShadeBaseValue(27, 28), 230);
    QCOMPARE(ShadeBaseValue(0, 1), 0);
    QCOMPARE(ShadeBaseValue(5, 0), 0);
    QCOMPARE(int(ShadePixel(230, 0)), 230);
    QCOMPARE(int(ShadePixel(230, 2046)), 230);
    QCOMPARE(int(ShadePixel(230, 2047)), 231);
    QCOMPARE(int(ShadePixel(238, 32767)), 254);
    ShadeNoise a;
    ShadeNoise b;
    std::set<int> seen;
    for (int i = 0; i < 1000; ++i) {
      const int v = a.Next();
      QVERIFY(v >= 0 && v <= 32767);
      QCOMPARE(b.Next(), v);  // unseeded: the same at every start
      seen.insert(v);
    }
    QVERIFY(seen.size() > 900);
  }

  void greyIcon() {
    QImage image(4, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 255));
    image.setPixel(1, 0, qRgba(255, 255, 255, 255));
    image.setPixel(2, 0, qRgba(255, 0, 0, 255));
    image.setPixel(3, 0, qRgba(0, 0, 255, 0));
    const QImage grey =
        MakeGreyIcon(QPixmap::fromImage(image)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(grey.size(), image.size());
    QCOMPARE(grey.pixel(0, 0), qRgba(0, 0, 0, 255));
    QCOMPARE(grey.pixel(1, 0), qRgba(255, 255, 255, 255));
    QCOMPARE(grey.pixel(2, 0), qRgba(76, 76, 76, 255));
    QCOMPARE(qAlpha(grey.pixel(3, 0)), 0);
    QVERIFY(MakeGreyIcon(QPixmap()).isNull());
  }

  void buildShades() {
    CShadeButtonST button;
    QPalette palette = button.palette();
    palette.setColor(QPalette::Light, QColor(250, 250, 250));
    palette.setColor(QPalette::Button, QColor(200, 200, 200));
    palette.setColor(QPalette::Dark, QColor(100, 100, 100));
    button.setPalette(palette);
    button.resize(60, 28);
    button.BuildShades();

    const CCeXDib& normal = button.NormalShade();
    const CCeXDib& hover = button.HoverShade();
    QCOMPARE(normal.Width(), 60);
    QCOMPARE(normal.Height(), 28);
    QCOMPARE(normal.BitsPerPixel(), 8);
    QCOMPARE(normal.PaletteSize(), 256);
    // 5% towards (55,55,255), then the hover copy 20% towards the highlight.
    const QRgb shadow = TintColour(MakeSkinRgb(100, 100, 100), 5, kShadeTintColour);
    QCOMPARE(normal.PaletteEntry(0), shadow);
    QCOMPARE(hover.PaletteEntry(0), TintColour(shadow, 20, MakeSkinRgb(250, 250, 250)));
    for (int x = 0; x < 60; ++x) {
      QVERIFY(normal.Row(0)[x] <= 16);                                // bottom: dark, noise only
      QVERIFY(normal.Row(27)[x] >= 230 && normal.Row(27)[x] <= 246);  // top: light
      QCOMPARE(hover.Row(27)[x], normal.Row(27)[x]);
    }
    // A later palette change keeps the shading it was built with.
    palette.setColor(QPalette::Dark, QColor(0, 0, 0));
    button.setPalette(palette);
    QCOMPARE(button.NormalShade().PaletteEntry(0), shadow);
  }

  void onePixelHighButton() {
    CShadeButtonST button;
    button.resize(40, 1);
    button.BuildShades();
    QCOMPARE(button.NormalShade().Height(), 1);
    std::set<int> values;
    for (int x = 0; x < 40; ++x) {
      const int v = button.NormalShade().Row(0)[x];
      QVERIFY(v <= 16);
      values.insert(v);
    }
    QVERIFY(values.size() > 1);  // the noise is there
    button.setText("Open");
    QVERIFY(button.AssignIcons(SolidIcon(Qt::red)) == 0);
    const QImage image = RenderWidget(button);
    QCOMPARE(image.size(), QSize(40, 1));
  }

  void shadedButtonLooks() {
    CShadeButtonST button;
    button.resize(80, 30);
    button.BuildShades();
    const QPalette palette = button.palette();
    const QImage normalShade = button.NormalShade().Image().convertToFormat(QImage::Format_ARGB32);
    const QImage hoverShade = button.HoverShade().Image().convertToFormat(QImage::Format_ARGB32);

    QImage image = RenderWidget(button);
    QCOMPARE(image.pixel(0, 0), normalShade.pixel(0, 0));  // no edge
    QCOMPARE(image.pixel(40, 5), normalShade.pixel(40, 5));

    Hover(button);
    QVERIFY(button.IsHover());
    image = RenderWidget(button);
    QCOMPARE(image.pixel(40, 5), hoverShade.pixel(40, 5));
    QCOMPARE(QColor(image.pixel(0, 0)).rgb(), palette.color(QPalette::Light).rgb());  // raised
    QCOMPARE(QColor(image.pixel(79, 29)).rgb(), palette.color(QPalette::Dark).rgb());

    button.setDown(true);
    image = RenderWidget(button);
    QCOMPARE(image.pixel(40, 5), hoverShade.pixel(39, 4));  // shifted one pixel
    QCOMPARE(QColor(image.pixel(0, 0)).rgb(), palette.color(QPalette::Dark).rgb());  // sunken
    QCOMPARE(QColor(image.pixel(79, 29)).rgb(), palette.color(QPalette::Light).rgb());
    button.setDown(false);

    Leave(button);
    QVERIFY(!button.IsHover());
  }

  void iconStates() {
    CButtonST button;
    button.resize(80, 30);
    button.setText("Open");
    const QPixmap red = SolidIcon(QColor(255, 0, 0));
    QCOMPARE(button.AssignIcons(red, AUTO_GREY_ICON), 0);
    // Icon 3 pixels in, centred vertically: its pixels lie at x 3..18, y 7..22.
    const QPoint inIcon(10, 15);

    QCOMPARE(QColor(RenderWidget(button).pixel(inIcon)), QColor(76, 76, 76));
    Hover(button);
    QCOMPARE(QColor(RenderWidget(button).pixel(inIcon)), QColor(255, 0, 0));

    // Disabled while hovered: the hover look goes at once and the icon is grey.
    button.setEnabled(false);
    QVERIFY(!button.IsHover());
    QCOMPARE(QColor(RenderWidget(button).pixel(inIcon)), QColor(76, 76, 76));

    // One icon for every state.
    CButtonST plain;
    plain.resize(80, 30);
    plain.setText("Close");
    QCOMPARE(plain.AssignIcons(red), 0);
    QCOMPARE(QColor(RenderWidget(plain).pixel(inIcon)), QColor(255, 0, 0));
    Hover(plain);
    QCOMPARE(QColor(RenderWidget(plain).pixel(inIcon)), QColor(255, 0, 0));
    plain.setEnabled(false);
    QCOMPARE(QColor(RenderWidget(plain).pixel(inIcon)), QColor(76, 76, 76));

    // A null in icon leaves no icon at all.
    QCOMPARE(plain.AssignIcons(QPixmap(), red), 0);
    QVERIFY(plain.IconIn().isNull() && plain.IconOut().isNull() && plain.CurrentIcon().isNull());
  }

  void dragOnDoesNotLight() {
    CButtonST button;
    button.resize(80, 30);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    Leave(button);  // the pointer may rest where the window opened
    // A move with the left button held onto a button that is not lit leaves it unlit.
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10),
                     QPointF(button.mapToGlobal(QPoint(10, 10))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
    QVERIFY(!button.IsHover());
    // Pressed on the button and dragged off it: hover goes.
    QMouseEvent free(QEvent::MouseMove, QPointF(10, 10),
                     QPointF(button.mapToGlobal(QPoint(10, 10))), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&button, &free);
    QVERIFY(button.IsHover());
    QMouseEvent off(QEvent::MouseMove, QPointF(200, 10),
                    QPointF(button.mapToGlobal(QPoint(200, 10))), Qt::NoButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(&button, &off);
    QVERIFY(!button.IsHover());
  }

  void twoQuickClicks_data() {
    QTest::addColumn<QList<int>>("events");
    const int press = QEvent::MouseButtonPress;
    const int release = QEvent::MouseButtonRelease;
    const int dbl = QEvent::MouseButtonDblClick;
    QTest::newRow("double click in place of the second press")
        << QList<int>{press, release, dbl, release};
    QTest::newRow("double click after the second press")
        << QList<int>{press, release, press, dbl, release};
  }
  void twoQuickClicks() {
    QFETCH(QList<int>, events);
    CShadeButtonST button;
    button.resize(80, 30);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    for (int type : events) {
      SendMouse(button, static_cast<QEvent::Type>(type), QPoint(40, 15));
    }
    QCOMPARE(clicks.count(), 2);
  }

  void barArithmetic_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("filled");
    QTest::addColumn<QString>("percent");
    QTest::newRow("quarter") << 1000 << 0 << 4000 << 200 << 50 << "25%";
    QTest::newRow("99.9% truncates") << 3996 << 0 << 4000 << 200 << 199 << "99%";
    QTest::newRow("full") << 4000 << 0 << 4000 << 200 << 200 << "100%";
    QTest::newRow("past the end stays full") << 9000 << 0 << 4000 << 200 << 200 << "100%";
    QTest::newRow("below the start stays empty") << -5 << 0 << 100 << 200 << 0 << "0%";
    QTest::newRow("empty range") << 5 << 5 << 5 << 200 << 0 << "0%";
    QTest::newRow("widest range") << 0 << INT_MIN << INT_MAX << 1000 << 500 << "50%";
  }
  void barArithmetic() {
    QFETCH(int, position);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, width);
    QFETCH(int, filled);
    QFETCH(QString, percent);
    QCOMPARE(FilledWidth(position, lower, upper, width), filled);
    QCOMPARE(QString::fromStdString(PercentText(position, lower, upper)), percent);
  }

  void barTextBuffer_data() {
    QTest::addColumn<int>("bufferChars");
    QTest::addColumn<int>("copied");
    QTest::newRow("large buffer") << 1024 << 14;
    QTest::newRow("exact fit") << 15 << 14;
    QTest::newRow("cut") << 5 << 4;
    QTest::newRow("room for the terminator only") << 1 << 0;
    QTest::newRow("no room") << 0 << 0;
  }
  void barTextBuffer() {
    QFETCH(int, bufferChars);
    QFETCH(int, copied);
    CTextProgressCtrl bar;
    bar.SetText("Updated 12.50%");
    std::u16string buffer(1024, u'#');
    QCOMPARE(bar.GetText(buffer.data(), bufferChars), copied);
    QCOMPARE(QString::fromUtf16(buffer.data(), copied), QString("Updated 12.50%").left(copied));
    QCOMPARE(buffer[static_cast<size_t>(copied)], bufferChars > 0 ? u'\0' : u'#');
  }

  void barTextKeptOrPercent() {
    CTextProgressCtrl bar;
    bar.resize(200, 20);
    bar.SetBounds(0, 4000);
    QCOMPARE(bar.SetPosition(1000), 0);
    QCOMPARE(bar.DisplayText(), QString("25%"));
    bar.SetText("updating");
    QCOMPARE(bar.GetText(), QString("updating"));
    QCOMPARE(bar.DisplayText(), QString("updating"));
    QCOMPARE(bar.SetPosition(3996), 1000);
    QCOMPARE(bar.DisplayText(), QString("updating"));
    bar.SetText(QString());
    QCOMPARE(bar.DisplayText(), QString("99%"));
  }

  void barRepaintsOnlyOnChange() {
    CTextProgressCtrl bar;
    bar.resize(200, 20);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    bar.SetBounds(0, 4000);
    int requests = bar.RepaintRequests();
    bar.SetPosition(0);  // the first always redraws
    QCOMPARE(bar.RepaintRequests(), ++requests);
    bar.SetPosition(19);  // 0.95 pixel: still 0
    QCOMPARE(bar.RepaintRequests(), requests);
    bar.SetPosition(20);
    QCOMPARE(bar.RepaintRequests(), ++requests);
    QCOMPARE(bar.LastBarWidth(), 1);
    bar.SetText("a");
    QCOMPARE(bar.RepaintRequests(), ++requests);
    bar.SetText("a");
    QCOMPARE(bar.RepaintRequests(), requests);
    bar.SetText("");
    QCOMPARE(bar.RepaintRequests(), ++requests);
    bar.resize(260, 20);  // 1.3 pixels is still 1, but a resize forces the redraw
    bar.SetPosition(20);
    QCOMPARE(bar.RepaintRequests(), ++requests);
  }

  void barTwoTextColours() {
    CTextProgressCtrl bar;
    bar.resize(240, 24);
    QFont font = bar.font();
    font.setPixelSize(18);
    font.setBold(true);
    bar.setFont(font);
    bar.SetBounds(0, 100);
    bar.SetPosition(50);
    bar.SetText("HHHHHHHHHHHHHHHH");
    const QImage image = RenderWidget(bar);
    QCOMPARE(QColor(image.pixel(119, 0)).rgb(), bar.BarColour().rgb());
    QCOMPARE(QColor(image.pixel(120, 0)).rgb(), bar.TrackColour().rgb());
    bool onBar = false;
    bool onTrack = false;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c(image.pixel(x, y));
        if (x < 120) {
          QVERIFY(c.rgb() != bar.TextOnTrackColour().rgb());
          onBar = onBar || c.rgb() == bar.TextOnBarColour().rgb();
        } else {
          QVERIFY(c.rgb() != bar.TextOnBarColour().rgb());
          onTrack = onTrack || c.rgb() == bar.TextOnTrackColour().rgb();
        }
      }
    }
    QVERIFY(onBar);
    QVERIFY(onTrack);
  }

  void barEmptyRangeShowsTrack() {
    CTextProgressCtrl bar;
    bar.resize(100, 20);
    bar.SetBounds(10, 10);
    bar.SetPosition(10);
    const QImage image = RenderWidget(bar);
    QCOMPARE(QColor(image.pixel(5, 10)).rgb(), bar.TrackColour().rgb());
    QCOMPARE(QColor(image.pixel(95, 10)).rgb(), bar.TrackColour().rgb());
  }

  void dialogBackground() {
    CBkDialog dialog;
    dialog.resize(120, 100);
    QLabel label("x", &dialog);
    label.setGeometry(10, 10, 80, 30);
    const QColor window = dialog.palette().color(QPalette::Window);
    QImage image = RenderWidget(dialog);
    QCOMPARE(QColor(image.pixel(110, 90)).rgb(), window.rgb());
    QCOMPARE(QColor(image.pixel(84, 34)).rgb(),
             window.rgb());  // inside the label, clear of its text

    QImage pattern(2, 2, QImage::Format_ARGB32);
    pattern.fill(QColor(0, 128, 0));
    pattern.setPixel(1, 1, qRgb(200, 0, 0));
    dialog.SetBitmap(QPixmap::fromImage(pattern));
    QVERIFY(dialog.HasBitmap());
    image = RenderWidget(dialog);
    QCOMPARE(QColor(image.pixel(110, 90)), QColor(0, 128, 0));
    QCOMPARE(QColor(image.pixel(111, 91)), QColor(200, 0, 0));  // tiled
    QCOMPARE(QColor(image.pixel(84, 34)), QColor(0, 128, 0));   // the label is transparent
    dialog.SetBitmap(QPixmap());
    QCOMPARE(QColor(RenderWidget(dialog).pixel(110, 90)).rgb(), window.rgb());
  }

  void pictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QSize icon(kButtonIconSize, kButtonIconSize);
    QTest::newRow("app") << QString(kIconApp) << icon;
    QTest::newRow("close") << QString(kIconClose) << icon;
    QTest::newRow("update") << QString(kIconUpdate) << icon;
    QTest::newRow("open") << QString(kIconOpen) << icon;
    QTest::newRow("setting") << QString(kIconSetting) << icon;
    QTest::newRow("banner") << QString(kBanner) << kBannerSize;
  }
  void pictures() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image = RenderSvgPixmap(path, size).toImage();
    QCOMPARE(image.size(), size);
    // Something is drawn: the centre is opaque.
    QCOMPARE(qAlpha(image.pixel(size.width() / 2, size.height() / 2)), 255);
  }

  void iconsFromResources() {
    // The main window's way: icons from the resources, Open greyed until hovered.
    CShadeButtonST open;
    open.resize(63, 32);
    open.setText("Open");
    QCOMPARE(open.SetIcons(QIcon(kIconOpen), AUTO_GREY_ICON), 0);
    QCOMPARE(open.IconIn().deviceIndependentSize().toSize(),
             QSize(kButtonIconSize, kButtonIconSize));
    const QImage out = open.IconOut().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage in = open.IconIn().toImage().convertToFormat(QImage::Format_ARGB32);
    const QPoint middle(kButtonIconSize / 2, kButtonIconSize / 2);
    QVERIFY(qRed(in.pixel(middle)) != qBlue(in.pixel(middle)));   // coloured
    QCOMPARE(qRed(out.pixel(middle)), qBlue(out.pixel(middle)));  // grey
    QCOMPARE(qRed(out.pixel(middle)), qGreen(out.pixel(middle)));
  }

  void missingPicture() {
    QVERIFY(RenderSvgPixmap(":/icons/none.svg", QSize(32, 32)).isNull());
    QVERIFY(LoadIconPixmap(kIconOpen).size() == QSize(kButtonIconSize, kButtonIconSize));
  }
};

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
