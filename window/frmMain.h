// The calculator window: pick the standard, type the temperature, step to the measured
// reflection, type its d-spacing and press "Calc ->" for the pressure in GPa.
#pragma once

#include "engine/clsKolvane.h"
#include "window/controls.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // ---- State of the window ----
    QString StandardName;            // "NaCl" or "CsCl"
    std::vector<int16_t> hkl2list;   // allowed h^2+k^2+l^2 values; position p is hkl2list[p - 1]
    int16_t hkl2Count = 0;           // entries of hkl2list
    int16_t hkl2Index = 0;           // current position, 1 .. hkl2Count
    float LatticeRef = 0;            // ambient lattice parameter of the standard, angstrom
    float TempC = 0;                 // temperature as last stored, degrees Celsius
    int16_t StandardCode = 0;        // engine code of the standard
    float VolDiff = 0;               // (V - V0) / V0 of the last calculation
    float Pressure = 0;              // kbar from the engine, then GPa
    int16_t ErrCode = 0;             // engine status of the last calculation
    std::unique_ptr<clsKolvane> Engine;  // made by the first calculation

    // ---- Controls ----
    controls::Frame* Frame1 = nullptr;
    controls::OptionGroup optStandard;
    controls::Frame* Frame2 = nullptr;
    controls::TextBox* txtT = nullptr;
    controls::Label* Label1 = nullptr;
    controls::TextBox* txthkl2 = nullptr;
    controls::PushButton* cmdhklPlus = nullptr;
    controls::PushButton* cmdhklMinus = nullptr;
    controls::TextBox* txtPeak = nullptr;
    controls::Label* Label4 = nullptr;
    controls::Label* Label3 = nullptr;
    controls::TextBox* txtDiffractionInfo = nullptr;
    controls::Label* Label2 = nullptr;
    controls::PushButton* cmdCalc = nullptr;
    controls::Frame* Frame3 = nullptr;
    controls::TextBox* txtPressure = nullptr;

    // ---- Procedures ----
    void Form_Load();
    void FormUpdate();
    void makehkl2list();
    void WritePeak();
    void optStandard_MouseUp(int16_t Index, int16_t Button, int16_t Shift, float X, float Y);
    void cmdhklMinus_MouseUp(int16_t Button, int16_t Shift, float X, float Y);
    void cmdhklPlus_MouseUp(int16_t Button, int16_t Shift, float X, float Y);
    void cmdCalc_Click();

private:
    void CreateControls();
    void WireEvents();
    // Current h^2+k^2+l^2 value, 0 when the position lies outside the list.
    int16_t CurrentHkl2() const;
    // Tells the user why a calculation stopped: a beep, the box focused with its text
    // selected, and the reason as the box's tooltip.
    void Complain(controls::TextBox* box, const QString& why);
    // Writes the result box; a non-empty warning colours the number and explains it.
    void ShowPressure(const QString& text, const QString& warning = {});
};
