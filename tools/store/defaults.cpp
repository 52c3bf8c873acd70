#include "tools/store/defaults.h"

#include "gen/code/introspection_gen.h"

#include <algorithm>
#include <cstring>

namespace {
template <std::size_t N>
void text(char (&field)[N], char const* value) {
    std::size_t length = std::min(std::strlen(value), N - 1);
    std::memcpy(field, value, length);
    field[length] = '\0';
}

void fillDevice() {
    gen::MemPersistentLayout& persistent = gen::memPersistent();
    text(persistent.ProductName, "Hand Unit HU-3");
    text(persistent.ProductVersion, "3.12.0");
    persistent.RadioPower = 80;
    persistent.FocusTorque = persistent.IrisTorque = persistent.ZoomTorque = persistent.AUXTorque = 2;
    persistent.UserButton1 = gen::UserButton::Record;
    persistent.UserButton2 = gen::UserButton::FocusOffset;
    persistent.UserButton3 = gen::UserButton::LensMarkerAdd;
    persistent.LandingPage = gen::PageName::Root;
    persistent.KnobAssignment = gen::SteeringAxis::Focus;
    persistent.SliderAssignment = gen::SteeringAxis::Iris;
    persistent.ForcePadAssignment = gen::SteeringAxis::Zoom;
    persistent.DisplayBrightnessAuto = true;
    persistent.DisplayBrightness = persistent.ButtonBrightness = persistent.KnobBrightness = 70;
    persistent.LedRunBrightness = 50;
    persistent.ForcePadSpeed = persistent.MenuScrollSpeed = 5;
    persistent.CircleofConfusion = 0.025f;
    persistent.SoundVolume = 60;
    persistent.LensMarkerVibrationEnable = persistent.EndSlateVibrationEnable = true;
    persistent.DisplayUnit = gen::DisplayUnit::Meter;
    persistent.BluetoothPower = true;
    text(persistent.MruLensFileList[0].LensFileName, "Astra_50mm.tab");
    text(persistent.MruLensFileList[1].LensFileName, "Astra_85mm.tab");
    persistent.MruLensFileListSize = 2;
    for (int module = 0; module < 2; ++module) {
        persistent.RadioModuleList[module].Channel = 5 + module;
        persistent.RadioModuleList[module].Region = gen::RadioRegion::Europe;
    }

    gen::MemStaticLayout& fixed = gen::memStatic();
    text(fixed.ModemVersionString, "MDM 4.2.17");
    fixed.ModemType = gen::ModemType::TypeA;
    text(fixed.ProductLastCommit, "9f1c2e7d4b3a");
    text(fixed.ProductSerial, "HU3-004711");
    text(fixed.ProductRevision, "C");
    text(fixed.RadioMacAddress, "02:4a:11:20:7c:01");
    text(fixed.RadioMotConMacAddress, "02:4a:11:20:7c:02");
    fixed.EnableRadioPower = true;
    fixed.OnewireModemConnected = true;

    // Every variable of MemApp is a log level.
    unsigned int app = Introspection::getMemIndex(gen::MEM_APP_NAME);
    for (unsigned int var = 0; var < Introspection::getVarCount(app); ++var) {
        gen::LogLevel level = gen::LogLight;
        std::memcpy(static_cast<char*>(gMemApp) + Introspection::variable(app, var).offset, &level, sizeof level);
    }
}

void fillDynamic() {
    gen::MemDynamicLayout& dynamic = gen::memDynamic();
    dynamic.PowerState = gen::PowerState::SmartBattery;
    dynamic.BattPercent = 87;
    dynamic.BattTemperature = 31.5f;
    dynamic.BattVoltage = 7.9f;
    dynamic.BattChargeVoltage = 8.4f;
    dynamic.BattCurrent = -0.6f;
    dynamic.RadioChannel = 5;
    dynamic.RadioRegion = gen::RadioRegion::Europe;
    dynamic.VoltageBattery = 7.9f;
    dynamic.VoltageIntermediate = 5.0f;
    dynamic.FocusTargetValue = dynamic.FocusActPosNorm = 0.25f;
    dynamic.IrisTargetValue = dynamic.IrisActPosNorm = -0.5f;
    dynamic.RadioState = gen::RadioStates::Operating;
    dynamic.RadioLinkQuality = 92;
    dynamic.RadioRSSI = -48;
    dynamic.FocalLength = 50.0f;
    text(dynamic.LensExtenderShortDescr, "1x");
    dynamic.CanConnectState = gen::CanConnectState::Connected;
    dynamic.DataSource = dynamic.DataSourceSet = gen::DataSources::Internal;
}

void fillMotors() {
    gen::MemMotorsLayout& motors = gen::memMotors();
    gen::Motor* all[] = {&motors.FocusMotor, &motors.IrisMotor, &motors.ZoomMotor, &motors.AUXMotor};
    for (int axis = 0; axis < 4; ++axis) {
        gen::Motor& motor = *all[axis];
        motor.State = gen::MotorStatus::Present;
        motor.ConnectState = axis < 3 ? gen::MotorConnection::ConnectedToModem : gen::MotorConnection::ConnectedToCable;
        motor.Side = gen::MotorSide::Left;
        motor.MotorAxis = static_cast<gen::Axis>(axis + 1);
        motor.ActPosValid = motor.CalFinished = motor.GearTeethAuto = true;
        motor.ActPosition = 12000 + 9000 * axis;
        motor.GearTeethAct = motor.GearTeethSet = 32;
        motor.BndLower = motor.SoftBndLower = 800;
        motor.BndUpper = motor.SoftBndUpper = 64200;
        motor.RealLowerLimit = 0.0f;
        motor.RealUpperLimit = 1.0f;
        motor.SkipCalib = gen::SkipCalibration::None;
    }
    motors.FocusGearTeethSet = motors.IrisGearTeethSet = motors.ZoomGearTeethSet = motors.AUXGearTeethSet = 32;
    motors.FocusTorqueSet = motors.IrisTorqueSet = motors.ZoomTorqueSet = motors.AUXTorqueSet = 2;
    motors.FocusSkipCalibSet = motors.IrisSkipCalibSet = motors.ZoomSkipCalibSet = motors.AUXSkipCalibSet =
        gen::SkipCalibration::None;
}

void fillLens() {
    gen::MemLensLayout& lens = gen::memLens();
    char const* files[] = {"Astra_25mm.tab", "Astra_50mm.tab", "Astra_85mm.tab", "Corvus_24-70mm.tab"};
    for (int file = 0; file < 4; ++file) text(lens.LensFileList[file].LensFileName, files[file]);
    lens.LensFileListSize = 4;
    text(lens.ActivateLensFileName, "Astra_50mm.tab");
    lens.LensZoomMinValue = lens.LensZoomMaxValue = 50;

    gen::LensTable& focus = lens.LensTableFocusMeter;
    float const meters[] = {0.45f, 0.6f, 0.8f, 1.0f, 1.5f, 2.0f, 3.0f, 5.0f, 10.0f};
    char const* labels[] = {"0.45", "0.6", "0.8", "1", "1.5", "2", "3", "5", "10"};
    focus.TableActive = true;
    focus.LensTableValueListSize = 9;
    focus.LensTableLowerBound = focus.LensTableMinInterpolPos = 800;
    focus.LensTableUpperBound = focus.LensTableMaxInterpolPos = 64200;
    for (int mark = 0; mark < 9; ++mark) {
        gen::ScaleValues& value = focus.LensTableValueList[mark];
        value.EncoderValue = 800 + mark * 7900;
        value.EngravedValue = value.InterpolEngravedVal = meters[mark];
        text(value.PrimaryEngravedValueAsString, labels[mark]);
    }

    gen::LensDescTable& description = lens.LensTableDescription;
    description.TableActive = description.TextActive = description.MeterScaleFitted = true;
    description.Index = 1;
    description.FocalLength = 50;
    text(description.LensText, "50mm T1.5");
    text(description.LensBrandName, "Astra");
    text(description.SerialNumber, "AS50-18233");
    description.TableVersion = 3;

    gen::MemLensMarkersLayout& markers = gen::memLensMarkers();
    markers.LensMarkerFocusValue0 = -0.4f;
    markers.LensMarkerFocusValue1 = 0.35f;
}

void fillCamera() {
    gen::MemCameraLayout& camera = gen::memCamera();
    camera.CamDataAvailable = gen::CamDataState::Complete;
    camera.CamState = gen::CameraState::Ready;
    camera.CamType = gen::CameraType::CinemaCamA;
    text(camera.CamFWVersion, "7.1.2");
    camera.CamSpeedAct = 23.976f;
    camera.CamShutterAct = 180.0f;
    text(camera.CamTStopString, "T2.8");
    text(camera.CamMediaCodec, "Intra 422 10-bit");
    float const speeds[] = {23.976f, 24.0f, 25.0f, 29.97f, 48.0f, 50.0f};
    for (int speed = 0; speed < 6; ++speed) camera.CamSpeedList[speed].CamSpeed = speeds[speed];
    camera.CamSpeedListSize = 6;

    char const* names[] = {"A001C001", "A001C002", "A001C003", "A001C004", "A001C005"};
    char const* lengths[] = {"00:00:12:04", "00:01:40:11", "00:00:35:00", "00:02:03:17", "00:00:08:22"};
    for (int clip = 0; clip < 5; ++clip) {
        gen::CamClipListItemStruct& item = camera.CamClipList0[clip];
        item.CamClipPlayable = true;
        item.CamClipFramerate = 23.976f;
        text(item.CamClipName, names[clip]);
        text(item.CamClipTimeCode, "10:00:00:00");
        text(item.CamClipLength, lengths[clip]);
        text(item.CamClipCodec, "Intra 422 10-bit");
    }
    text(camera.CamClipList0MediumName, "CARD A");
    camera.CamClipList0Size = 5;
    camera.CamClipList0EnabledFlags[0] = 0x1f;
    camera.CamClipPlaybackSpeed = gen::PlaybackSpeed::normal;
    camera.CamLensType = gen::LensType::Prime;
}

void fillPeripherals() {
    gen::MemExternalDevicesLayout& devices = gen::memExternalDevices();
    char const* accessories[] = {"LensEncoder", "RangeFinder"};
    for (int device = 0; device < 2; ++device) {
        gen::TlxDevice& entry = devices.TlxDeviceList[device];
        entry.TlxDeviceConnected = true;
        entry.TlxId = device + 1;
        entry.TlxSerNumber = 4711 + device * 1000;
        text(entry.TlxDeviceName, accessories[device]);
        text(entry.TlxBootSwBootVersion, "1.0.3");
        text(entry.TlxMainSwVersion, "2.6.1");
        text(entry.TlxAppSwVersion, "2.6.1");
    }
    devices.TlxDeviceListSize = 2;

    gen::MemBluetoothLayout& bluetooth = gen::memBluetooth();
    bluetooth.BluetoothAdapterAvailable = true;
    text(bluetooth.BluetoothDeviceList[0].BluetoothDeviceAddress, "5c:f3:70:11:22:33");
    text(bluetooth.BluetoothDeviceList[0].BluetoothDeviceName, "Tablet");
    bluetooth.BluetoothDeviceListSize = 1;

    gen::MemHwControlLayout& hardware = gen::memHwControl();
    hardware.LedRunColor = gen::LedColor::Green;
    hardware.DateYear = 2024;
    hardware.DateMonth = 6;
    hardware.DateDay = 1;
    hardware.DateHour = 12;
    text(hardware.DateTimezone, "Europe/Berlin");
    text(hardware.DateTimezoneContinent, "Europe");
    text(hardware.DateTimezoneCountry, "Germany");
    text(hardware.CpuSerial, "0x1d2c3b4a59687766");

    gen::MemServiceModeLayout& service = gen::memServiceMode();
    char* labels[] = {service.ServiceMode1WireModemLabel, service.ServiceMode1WireRingLabel,
                      service.ServiceMode1WireInitInternalLabel};
    for (char* label : labels) std::strcpy(label, "-");

    text(gen::memUserSetups().UserSetupList[0].UserSetupFile, "Studio.stp");
    text(gen::memUserSetups().UserSetupList[1].UserSetupFile, "Gimbal.stp");
    gen::memUserSetups().UserSetupListSize = 2;
}
}  // namespace

void store::fillDefaults() {
    fillDevice();
    fillDynamic();
    fillMotors();
    fillLens();
    fillCamera();
    fillPeripherals();
}
