// The calculator window, headless, under arbitrary sequences of the user's commands:
// standard choices, reflection steps, any UTF-8 text in the two input boxes, and
// calculations, in a locale with a decimal point or a decimal comma, with digits, minus
// signs and direction marks of its own. After every command the state and the boxes must
// agree, a refreshed temperature must read back, and the result box must show either its
// old text or exactly what the engine gives for the stored inputs.
#include "tests/fuzz/fuzz_bytes.h"
#include "tests/window_invariants.h"

#include <QApplication>
#include <QLocale>

#include <bit>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(const std::string& fault)
{
    if (!fault.empty()) {
        std::fprintf(stderr, "broken: %s\n", fault.c_str());
        std::abort();
    }
}

// Either raw UTF-8, or a number the bytes spell, written as the locale writes numbers:
// the parsing inside Qt gives the fuzzer no coverage to steer by.
QString Text(FuzzBytes& in)
{
    if (const auto how = in.Take<uint8_t>(); how % 2) {
        const float v = std::bit_cast<float>(in.Take<uint32_t>());
        return QLocale().toString(v, how & 2 ? 'e' : 'g', (how >> 2) % 12);
    }
    std::size_t len = 0;
    const char* s = in.Chunk(255, len);
    return QString::fromUtf8(s, static_cast<qsizetype>(len));
}

}  // namespace

// fontconfig lets go of its font patterns only when the process ends: not our leak.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);  // lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FuzzBytes in(data, size);
    static const QLocale locales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::French, QLocale::France), QLocale(QStringLiteral("he_IL")),
                                      QLocale(QStringLiteral("ar_EG")), QLocale(QStringLiteral("fa_IR")),
                                      QLocale(QStringLiteral("sv_SE"))};
    QLocale::setDefault(locales[in.Take<uint8_t>() % std::size(locales)]);

    frmMain w;
    Check(invariants::StateFault(w));
    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        const QString before = w.txtPressure->text();
        const auto op = in.Take<uint8_t>();
        const auto index = static_cast<int16_t>(op >> 7);
        switch (op % 8) {
        case 0:  // a release over an option picks it first ...
            w.optStandard.Select(index);
            w.optStandard_MouseUp(index, 1, 0, 0, 0);
            break;
        case 1:  // ... or leaves the selection as it was (another mouse button)
            w.optStandard_MouseUp(index, 2, 0, 0, 0);
            break;
        case 2:  // the keyboard (an arrow key, Space) clicks an option
            w.optStandard(index)->click();
            break;
        case 3: w.cmdhklPlus_MouseUp(1, 0, 0, 0); break;
        case 4: w.cmdhklMinus_MouseUp(4, 0, 0, 0); break;
        case 5: w.txtT->SetText(Text(in)); break;
        case 6: w.txtDiffractionInfo->SetText(Text(in)); break;
        case 7: w.cmdCalc_Click(); break;
        }
        Check(invariants::StateFault(w));
        Check(invariants::PressureFault(w, before, op % 8 == 7));
        if (op % 8 < 5 && op % 8 != 2) Check(invariants::RefreshedTemperatureFault(w));  // these refresh
    }
    // Whatever the input ended with, calculate once more.
    const QString before = w.txtPressure->text();
    w.cmdCalc_Click();
    Check(invariants::StateFault(w));
    Check(invariants::PressureFault(w, before, true));
    return 0;
}
