// Widget tests run headless unless a platform is chosen explicitly.
#include <QApplication>

#include <gtest/gtest.h>

namespace {

QtMessageHandler qtDefault = nullptr;

// The headless platform cannot raise tooltip windows and says so each time.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.contains(QLatin1String("does not support raise()"))) {
        qtDefault(type, context, message);
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qtDefault = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
