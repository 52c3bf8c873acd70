// The generated catalogue against the device's published data model: areas,
// variables in order, types and limits, layouts, structures and enumerations.
#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection_enum/introspection_enum.h"
#include "gen/code/introspection_gen.h"
#include "apps/common/sharedmemory/sharedmemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words(std::string const& text, char separator = ' ') {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; std::getline(stream, word, separator);) {
        word.erase(0, word.find_first_not_of(' '));
        if (!word.empty()) result.push_back(word);
    }
    return result;
}

std::string text(char const* value) { return value ? value : "(null)"; }

struct AreaFacts {
    char const* name;
    char const* variables;
};

// Names in catalogue order, as the device's model lists them.
AreaFacts const AREAS[] = {
    {"MemPersistent",
     "ProductName ProductVersion RadioPower RadioBoost FocusTorque IrisTorque ZoomTorque AUXTorque "
     "UserButton1 UserButton2 UserButton3 LandingPage KnobAssignment SliderAssignment ForcePadAssignment "
     "GuiDesignIsNightStyle DisplayBrightnessAuto DisplayBrightness ButtonBrightness KnobBrightness "
     "KnobColor LedRunBrightness StealthMode KnobReverse SliderReverse ForcePadReverse "
     "LastKnownFocusValue LastKnownIrisValue LastKnownZoomValue KnobLock SliderLock ForcePadLock "
     "ForcePadSpeed CircleofConfusion MenuScrollSpeed ButtonsLocked SoundMute SoundVolume SoundType "
     "LensMarkerVibrationEnable OverrideVibrationEnable RecordingVibrationEnable EndSlateVibrationEnable "
     "NudgeVibrationEnable UserButtonVibrationEnable PreMarkedRingAutoDet MruLensFileList "
     "MruLensFileListSize RecentLensFiles LensFileTransferCalibrate LensMarkerVibrationType "
     "OverrideVibrationType RecordingVibrationType NudgeVibrationType PreMarkedRingMeter "
     "PreMarkedRingFeet PreMarkedRingInch DisplayUnit BluetoothPower GuiRotate DisableTouchscreen "
     "DisableForcePad Language FocusTableInverted IrisTableInverted ZoomTableInverted FocusTableHidden "
     "IrisTableHidden ZoomTableHidden EnableNextSupFeatures PreMarkedEnumMetric PreMarkedEnumImperial "
     "RadioModuleList"},
    {"MemDynamic",
     "PowerState BattPercent BattStatus BattTemperature BattVoltage BattChargeVoltage BattCurrent "
     "RadioChannel RadioRegion VoltageTlx VoltageBattery VoltageIntermediate FocusTargetValue "
     "IrisTargetValue ZoomTargetValue AuxTargetValue FocusActPosNorm IrisActPosNorm ZoomActPosNorm "
     "AUXActPosNorm Knob Slider JoystickX JoystickY JoystickControlsGui ButtonRecord ButtonPower "
     "RadioState RadioLinkQuality RadioRSSI RadioClientNr LostFrameCounter RadioAnimTimerCount "
     "LensActFocus LensActIris DisplayUnitConversion ContainerTransferState ContainerTransferProgress "
     "FocusOffsetPressed IrisOffsetPressed ZoomOffsetPressed FocusTrackingActive OverrideFocusForGui "
     "OverrideIrisForGui OverrideZoomForGui OverrideAuxForGui OverrideFocusToCam OverrideIrisToCam "
     "OverrideZoomToCam OverrideAuxToCam EndSlateModeActive RecButtonPressed SuspendModemManager "
     "ModemManagerIsSuspended DofNearValue DofFarValue FocalLength AxialEffFocalLength EntrancePupil "
     "LensExtenderLongDescr LensExtenderShortDescr LensExtenderSerialNr LensExtenderFocalLengthMulti "
     "LensExtenderLightLoss LensExtenderPhysicalLength CanConnectState PreMarkedValueValid DataSource "
     "DataSourceSet MotorcontrollerRemoteControl GlobalUnit GlobalUnitEnabled ExternalDevicesStealthMode "
     "ExternalDevicesStealthModeAvailable OnewireDisconnectModem ExternalZoomSteering ExternalZoomValue"},
    {"MemDistanceMeasure",
     "DmdTargetValue DmdSource DmdSourceSwitchDisabled DmdTypeFlags FocusBugLockoutIcon "
     "FocusBugLimitsIcon CtmState CtmDistanceMeter CtmDistanceFeet CtmDistanceInch Dmd1PosNorm "
     "Dmd2PosNorm FocusBugDeviceCount FocusBugFieldOfView FocusBugFieldOfViewSet DmdActiveSource DmdType1 "
     "DmdType1Set DmdType2 DmdType2Set FocusBugPlaneOffset FocusBugPlaneOffsetSet FocusBugSensitivity "
     "FocusBugSensitivitySet FocusBugLowerLimit FocusBugUpperLimit FocusBugLimitActive "
     "FocusBugLimitActiveSet FocusBugClearLimits FocusBugLowerLimitSet FocusBugUpperLimitSet "
     "FocusBugCommitLimits FocusBugLowerLockout FocusBugUpperLockout FocusBugLockoutActive "
     "FocusBugLockoutActiveSet FocusBugClearLockout FocusBugLowerLockoutSet FocusBugUpperLockoutSet "
     "FocusBugCommitLockouts FocusBugSyncMode FocusBugSyncModeSet FocusBugCrossoverDistance "
     "FocusBugCrossoverDistanceSet FocusBugCrossoverMode FocusBugCrossoverModeSet FocusBugMarkerValue0 "
     "FocusBugMarkerValue1 FocusBugMarkerValue2 FocusBugMarkerValue3 FocusBugMarkerValue4 "
     "FocusBugMarkerValue5 FocusBugMarkerValue6 FocusBugMarkerValue7 FocusBugMarkerMaxReached "
     "FocusBugMarkerAddValue FocusBugMarkerClearValue FocusBugMarkerClearAllValue FocusBugMarkerNearMark "
     "FocusBugMarkerInvalidMark FocusBugDualMode FocusBugDualModeSet FocusBugUILowerLimit "
     "FocusBugUIUpperLimit FocusBugUILowerLockout FocusBugUIUpperLockout FocusBugUIPlaneOffset "
     "FocusBugUICrossoverDistance FocusBugUIIncrement FocusBugUIDecrement FocusBugUIIncrementPossible "
     "FocusBugUIDecrementPossible FocusBugUIEditMeter FocusBugUIEditFeet FocusBugUIEditInch "
     "FocusBugUIEditConfirm CdmNearDistance CdmFarDistance CdmNrOfIntervals CdmDataPointIndex "
     "CdmDataPointValue CdmDisplayMin CdmDisplayMax CdmCoordinatesList CdmCoordinatesListSize "
     "CdmMeasuredDistance CdmAddDistanceValue CdmAutoValue CdmRequestPacket"},
    {"MemCamera",
     "CamDataAvailable CamBeepEnabled CamUnit CamState CamType CamFWVersion CamSpeedAct CamShutterAct "
     "CamFootageUnit CamFootage CamRemainingTimeWarning CamFocusDistanceMeter CamFocusDistanceFeet "
     "CamFocusDistanceInch CamTStopString CamFocalLength CamNdFilterAct CamNdFilterActString CamSpeedSet "
     "CamSpeedCustomSet CamShutterSet CamShutterCustomSet CamWhiteBalanceSet CamWhiteBalanceAutoResult "
     "CamExposureIndexSet CamExposureTimeSet CamExposureTimeCustomSet CamWhiteBalanceCustomSet "
     "CamWhiteBalanceCustomTintSet CamWhiteBalanceAct CamWhiteBalanceTintAct CamExposureIndexAct "
     "CamExposureTimeValid CamExposureTimeAct CamNdFilterSet CamUserSetupSet CamIndex CamMediaCodec "
     "CamUserButtons CamUserButtonsNumber CamSpeedList CamSpeedListSize CamShutterList CamShutterListSize "
     "CamExposureIndexList CamExposureIndexListSize CamWhiteBalanceList CamWhiteBalanceListSize "
     "CamNdFilterList CamNdFilterListSize CamExposureTimeList CamExposureTimeListSize CamUserSetupList "
     "CamUserSetupListSize CamUserSetupDescList CamUserSetupDescListSize CamLiveCamInfoList "
     "CamLiveCamInfoListSize CamMonOutList CamMonOutListSize CamMonOutFunctionList CamSupply "
     "CamSupplyUnit0 CamSupplyUnit1 CamSupplyUnit2 CamSupplyUnit3 CamClipListAct CamClipListClipAct "
     "CamClipListSet CamClipListClipSet CamClipListProgress CamClipPlaybackSpeed CamClipPlay "
     "CamClipPlayStatus CamClipListNumber CamClipList0MediumName CamClipList0Size "
     "CamClipList0EnabledFlags CamClipList0 CamClipList1MediumName CamClipList1Size "
     "CamClipList1EnabledFlags CamClipList1 CamClipListLastClip CamClipListPlayable CamClipSelectPrevious "
     "CamClipSelectNext CamClipListPlaybackStop CamSDIPeakingToggle CamSDIPeaking "
     "CamSDISurroundViewToggle CamSDISurroundView CamSDISurroundViewDisable CamSDIExposureToolToggle "
     "CamSDIExposureTool CamSDIStatusInfoSet CamSDIStatusInfoAct CamSDIFramelinesToggle CamSDIFramelines "
     "CamUserButton1Set CamUserButton2Set CamUserButton3Set CamUserButton4Set CamUserButton5Set "
     "CamUserButton6Set CamHighSpeedModeSupport CamHighSpeedModeAct CamHighSpeedModeSet "
     "CamLensFileTransferSupport CamLensType CamPlaybackFastForwardAvailable"},
    {"MemStatic",
     "ModemVersionString ModemType ProductLastCommit ProductSerial ProductRevision RadioMacAddress "
     "RadioMotConMacAddress SimulateMotors EnableRadioPower VariableLogging OnewireModemConnected"},
    {"MemLens",
     "ActivateLensFileName LoadLensFileName LensFileList LensFileListSize LensZoomMinValue "
     "LensZoomMaxValue LensTableFocusMeter LensTableFocusImperial LensTableIris LensTableZoom "
     "LensTableDescription LensFileSave LensFileSaveSuccessful LensFileAcceptSaveFileName "
     "LensFileOverwriteFile LensClearKpt LensFileInvalidMark LensFileInvalidFile GenerateGenericScales "
     "GenerateMissingScale LensMarkerFocusMaxReached LensMarkerFocusValue0 LensMarkerFocusValue1 "
     "LensMarkerFocusValue2 LensMarkerFocusValue3 LensMarkerFocusValue4 LensMarkerFocusValue5 "
     "LensMarkerFocusValue6 LensMarkerFocusValue7 LensMarkerFocusAddValue LensMarkerFocusClearValue "
     "LensMarkerFocusClearAllValue"},
    {"MemLensMarkers",
     "LensMarkerFocusMaxReached LensMarkerFocusValue0 LensMarkerFocusValue1 LensMarkerFocusValue2 "
     "LensMarkerFocusValue3 LensMarkerFocusValue4 LensMarkerFocusValue5 LensMarkerFocusValue6 "
     "LensMarkerFocusValue7 LensMarkerFocusAddValue LensMarkerFocusClearValue "
     "LensMarkerFocusClearAllValue LensMarkerFocusNearMark LensMarkerFocusInvalidMark "
     "LensMarkerIrisMaxReached LensMarkerIrisValue0 LensMarkerIrisValue1 LensMarkerIrisValue2 "
     "LensMarkerIrisValue3 LensMarkerIrisValue4 LensMarkerIrisValue5 LensMarkerIrisValue6 "
     "LensMarkerIrisValue7 LensMarkerIrisAddValue LensMarkerIrisClearValue LensMarkerIrisClearAllValue "
     "LensMarkerIrisNearMark LensMarkerIrisInvalidMark LensMarkerZoomMaxReached LensMarkerZoomValue0 "
     "LensMarkerZoomValue1 LensMarkerZoomValue2 LensMarkerZoomValue3 LensMarkerZoomValue4 "
     "LensMarkerZoomValue5 LensMarkerZoomValue6 LensMarkerZoomValue7 LensMarkerZoomAddValue "
     "LensMarkerZoomClearValue LensMarkerZoomClearAllValue LensMarkerZoomNearMark "
     "LensMarkerZoomInvalidMark"},
    {"MemExternalDevices",
     "TlxDeviceListSize TlxDeviceList TlxUpdateDeviceName TlxUpdateDeviceSerial TlxUpdateFileName "
     "TlxUpdateStart TlxUpdateProgress TlxUpdatePartName TlxUpdateIndex TlxUpdateCount TlxUpdateState "
     "TlxDeviceListIndex TlxDeviceSelected"},
    {"MemMotors",
     "FocusMotor IrisMotor ZoomMotor AUXMotor SetMotorLimitFocus SetMotorLimitIris SetMotorLimitZoom "
     "SetKnobLimit StopSettingLimit FocusStartCalibSet FocusSkipCalibSet FocusGearTeethAutoSet "
     "FocusGearTeethSet FocusSideSet FocusConnectNewSet FocusTorqueSet IrisStartCalibSet IrisSkipCalibSet "
     "IrisGearTeethAutoSet IrisGearTeethSet IrisSideSet IrisConnectNewSet IrisTorqueSet ZoomStartCalibSet "
     "ZoomSkipCalibSet ZoomGearTeethAutoSet ZoomGearTeethSet ZoomSideSet ZoomConnectNewSet ZoomTorqueSet "
     "AUXStartCalibSet AUXSkipCalibSet AUXGearTeethAutoSet AUXGearTeethSet AUXSideSet AUXConnectNewSet "
     "AUXTorqueSet KnobLimitActive ManualCalibrationAxis ManualCalibrationFirstBnd "
     "ManualCalibrationSecondBnd ManualCalibrationFinished"},
    {"MemHwControl",
     "LedRunR LedRunB LedRunG LedRunColor LedPwmDisp LedPwmTop LedPwmBottom LedKnobW LedKnobR LedKnobG "
     "LedKnobB VibrationStart VibrationDuration VibrationStrength PlaySound EnableSpeaker DateYear "
     "DateMonth DateDay DateHour DateMinute DateTimezone DateDaylightSaving DateUpdate "
     "DateTimezoneContinent DateTimezoneContinentList DateTimezoneContinentListSize DateTimezoneCountry "
     "DateTimezoneCountryList DateTimezoneCountryListSize SystemPowerOff CpuSerial WriteHwInfo "
     "ExportLogFiles ExportLogFilesProgress VibrationTicLength VibrationShortLength"},
    {"MemBluetooth",
     "BluetoothAdapterAvailable BluetoothDiscoverable BluetoothScan BluetoothDeviceListSize "
     "BluetoothDeviceList"},
    {"MemGuiLocal",
     "EditBoolIsVisible_Local EditEnumIsVisible_Local EditOverlayIsVisible_Local "
     "EditOverlayIntegerIsVisible_Local EditOverlayFloatIsVisible_Local EditErrorIsVisible_Local "
     "OverlaySuccessIsVisible_Local PopupSymbolIsVisible_Local EditFloatIsVisible_Local "
     "EditFloatMaxValue_Local EditFloatMinValue_Local EditValueFloat_Local EditValueFloatBackup_Local "
     "EditIntegerKeypadIsVisible_Local EditIntegerMaxValue_Local EditIntegerMinValue_Local "
     "EditValueInteger_Local EditValueIntegerBackup_Local EditLocationSelectionIsVisible_Local "
     "EditIntegerListIsVisible_Local EditValueIsValid_Local EditValueStringBackup_Local "
     "EditVariable_Local SymbolPopup_Local EditListListIsVisible_Local TempListVal_Local "
     "PowerHoldIsVisible_Local PowerHoldTimer_Local TempBool_Local WhiteBalanceTemp_Local "
     "WhiteBalanceTintTemp_Local CameraScreenIndex_Local TempLensFileName_Local LensProgrammingStep_Local "
     "LensProgrammingTextType_Local LensProgrammingCalSkipTimerActive WhiteBalanceCustomStep FactoryReset "
     "FuncQJV KeyPadIndexLetter_Local KeyPadIndexNumber_Local KeyPadIndexSymbol_Local "
     "InfoScreenBorderColor UserSetupSaveValid GuiMissedFrames GuiScreenCaptureName LastCommandResult "
     "DoubleClick_Power PlaybackModeActive PlaybackNoCliplistModeActive ClipInfoWasActive KnobLimitFlash "
     "FocusMotorLimitFlash IrisMotorLimitFlash ZoomMotorLimitFlash FocusOffsetFlash IrisOffsetFlash "
     "ZoomOffsetFlash FocusCalFlash IrisCalFlash ZoomCalFlash AUXCalFlash CamStateErrorFlash "
     "TempCamValue_Local TempExposureTime_Local LockedButtonPressed DatePageSelection "
     "DateTimezoneSelection PopupSymbol PopupSymbolColor ClipListSelectionWasTouch PopupSymbolBgColor "
     "ELEMENT_0 ELEMENT_1 ELEMENT_2 ELEMENT_3 ELEMENT_4 ELEMENT_5 ManualTStop ManualFocalLength "
     "RadioChannelTemp RadioRegionTemp KnobAssignmentTemp SliderAssignmentTemp ForcePadAssignmentTemp "
     "UserButtonsTemp HighSpeedModeShow EndSlateSuppressionFlag LensMarkerClearFlag RadioChannelMax "
     "RadioRegionFlags ForcePadSpeedTemp UserButtonsFlags KnobAssignmentFlags SliderAssignmentFlags "
     "ForcePadAssignmentFlags FocusBugLower_Temp FocusBugUpper_Temp LensFileMode "
     "LensEditingScaleOffsetFlash LensEditingMoveActive LensEditingMoveFlash FocusScaleTouched "
     "FocusScaleMagnificationReset FocusScaleMagnificationValue FocusScaleMagnificationDefault "
     "FocusScaleMagnificationMin FocusScaleMagnificationMax FocusMotorTeeth IrisMotorTeeth ZoomMotorTeeth "
     "AUXMotorTeeth LensProgrammingRepeat FactoryResetConfirmation NewMotorConnected CameraNotSupported "
     "CancelConfirmation LensProgrammingCancelConfirmation AUXMotorEventHandled IrisMotorEventHandled "
     "FocusMotorEventHandled ZoomMotorEventHandled QJVResetActive ManualCalibrationStep "
     "VibrationFUNCToggle RecordingBeepSuppression UserIgnoredModemWarning FileBrowserBaseDirectory "
     "FileBrowserDirectory FileBrowserFilter FileBrowserSelectionCount FileBrowserEntryList "
     "FileBrowserEntryListSize FileBrowserFunction FileBrowserFunctionArgument FileBrowserOperation "
     "FileBrowserOperationStart FileBrowserHighlightIndex FileBrowserFunctionButtonState "
     "FileBrowserCancelConfirmation FileBrowserSuppressionFlag FileBrowserDeselectAllActive "
     "PreMarkedRingString UserButtonsActive FocusTableInverted_GuiLocal IrisTableInverted_GuiLocal "
     "ZoomTableInverted_GuiLocal UpdateConfirmation RadioBoostWarningFlag PreviousPage "
     "TRACE_INFO_VARIABLE"},
    {"MemServiceMode",
     "ButtonList ServiceModeEnabled ServiceModeCalibKnob ServiceModeCalibKnobLin ServiceModeCalibSlider "
     "ServiceModeCalibForcePad ServiceModeCalibVibration ServiceModeKnobLabel ServiceModeKnobLinLabel "
     "ServiceModeSliderLabel ServiceModeForcePadLabel ServiceModeVibrationLabel ServiceModeLedTest "
     "ServiceModeRadioSelfTest ServiceModeRadioSelfTestResult ServiceModeRadioSelfTestLabel "
     "ServiceModeSerialSelfTest ServiceModeSerialSelfTestResult ServiceModeSerialSelfTestLabel "
     "ServiceModeWritingToModem1Wire ServiceModeWritingToRing1Wire ServiceMode1WireModemLabel "
     "ServiceMode1WireRingLabel ServiceMode1WireInitInternal ServiceMode1WireInitInternalLabel "
     "ServiceModeConnectedModemType ServiceModeDisplayTest LightSensorClearValue LightSensorIrValue "
     "AccelerationX AccelerationY AccelerationZ ServiceModeSetSystemTime ServiceModeSetSystemTimeResult "
     "ServiceModeSystemTimeLabel"},
    {"MemDeviceState",
     "WrongModemVersion OneWireFailed OneWireModemCorrupted OneWireRingCorrupted FileNotFound "
     "FileAlreadyExists IndexOutOfRange EndSlateWarning MissingHardwareInfoWarning FatalSystemError "
     "DeviceUpdateStart DeviceUpdateProgress DeviceUpdateState"},
    {"MemMedia",
     "UsbState HostUpdateFileList HostUpdateFileListSize HostUpdateFileName HostUpdateFileState "
     "HostUpdateFileFirmwareVersion HostUpdateStart DeviceUpdateFileList DeviceUpdateFileListSize "
     "DeviceUpdateFileListIndex ExportSettings ImportSettings ExportLensTables ImportLensTables "
     "PrepareUsbMedium"},
    {"MemUserSetups",
     "UserSetupSave UserSetupAcceptSaveFileName UserSetupAcceptLoadFileName UserSetupAddNew "
     "UserSetupRename UserSetupList UserSetupListSize UserSetupSelectedFileIndex UserSetupOverwriteFile "
     "UserSetupDelete UserSetupFileCheckDone"},
    {"MemLensProgramming",
     "LensProgrammingBrand LensProgrammingType LensProgrammingSerialNumber "
     "LensProgrammingSerialNumberValid LensProgrammingUnit LensProgrammingBrandTemp_Local "
     "LensProgrammingAxisStage LensProgrammingFocalLength LensProgrammingFocalLength_Local "
     "LensProgrammingActive LensProgrammingActiveAxis LensProgrammingSetButtonPressed "
     "LensProgrammingFinishButtonPressed LensProgrammingDeleteButtonPressed "
     "LensProgrammingSaveButtonPressed LensProgrammingValueIsTypeOf LensProgrammingForcePadPressed "
     "LensProgrammingIncrement LensProgrammingDecrement LensProgrammingIncrementPossible "
     "LensProgrammingDecrementPossible LensProgrammingValueVissible LensProgrammingValueMeter "
     "LensProgrammingValueFeet LensProgrammingValueInch LensProgrammingValueIris LensProgrammingValueZoom "
     "LensProgrammingValueEngraved LensProgrammingLineEngraved LensProgrammingCalibrationActive "
     "LensEditingActive LensEditingUpdatePointBlancNumeric LensEditingScaleOffset LensEditingMoveStart "
     "LensEditingMoveStop LensEditingSnap"},
    {"MemApp",
     "AppServiceLogLevel AppGuiLogLevel AppIntrospectLogLevel AppCanManagerLogLevel "
     "AppLensManagerLogLevel AppSettingsManagerLogLevel AppBluetoothManagerLogLevel "
     "AppDepthMeasurementLogLevel AppSerialManagerLogLevel AppModemManagerLogLevel "
     "AppOnewireManagerLogLevel AppPowerManagerLogLevel AppMotorTestLogLevel AppLensLogLevel "
     "AppUsbManagerLogLevel AppHwControllerLogLevel AppDofCalculationLogLevel"},
};

unsigned int const SIZES[] = {652, 372, 3572, 139120, 252, 61240, 124, 3660, 480, 7232, 520, 13524, 2776, 24, 5292, 476, 156, 68};
unsigned int const COUNTS[] = {73, 77, 89, 111, 11, 32, 42, 13, 42, 37, 5, 151, 35, 13, 15, 11, 36, 17};

std::vector<VariableInfo const*> allVariables() {
    std::vector<VariableInfo const*> all;
    for (unsigned int mem = 0; mem < gen::MEMORY_ARRAY_SIZE; ++mem)
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var)
            all.push_back(&gen::MEMORY_ARRAY[mem].variables[var]);
    return all;
}

TEST(CatalogueAreas, NamesSizesCountsAndVariableOrderAreTheModels) {
    ASSERT_EQ(gen::MEMORY_ARRAY_SIZE, 18u);
    ASSERT_EQ(Introspection::getMemCount(), 18u);
    unsigned int total = 0;
    for (unsigned int mem = 0; mem < 18; ++mem) {
        MemoryInfo const& area = gen::MEMORY_ARRAY[mem];
        EXPECT_STREQ(area.name, AREAS[mem].name);
        EXPECT_EQ(gen::gAreas[mem].getName(), std::string("/") + AREAS[mem].name);
        EXPECT_EQ(gen::gAreas[mem].getSize(), SIZES[mem]) << area.name;
        EXPECT_EQ(area.count, COUNTS[mem]) << area.name;
        std::vector<std::string> names;
        for (unsigned int var = 0; var < area.count; ++var) names.push_back(area.variables[var].name);
        EXPECT_EQ(names, words(AREAS[mem].variables)) << area.name;
        total += area.count;
    }
    EXPECT_EQ(total, 810u);
}

TEST(CatalogueAreas, EveryValueLiesAlignedInsideItsAreaWithoutOverlap) {
    for (unsigned int mem = 0; mem < 18; ++mem) {
        std::vector<std::pair<unsigned int, unsigned int>> spans;
        for (unsigned int var = 0; var < gen::MEMORY_ARRAY[mem].count; ++var) {
            VariableInfo const& info = gen::MEMORY_ARRAY[mem].variables[var];
            if (info.memory != gen::AREA_POINTERS[mem]) continue;  // a copy, checked below
            unsigned int size = Introspection::getVarSize(mem, var);
            bool wordSized = info.baseType == TypeInt || info.baseType == TypeFloat || info.baseType == TypeEnum;
            if (wordSized) {
                EXPECT_EQ(info.offset % 4, 0u) << info.name;
            }
            EXPECT_LE(info.offset + size, SIZES[mem]) << info.name;
            spans.emplace_back(info.offset, info.offset + size);
        }
        std::sort(spans.begin(), spans.end());
        for (size_t next = 1; next < spans.size(); ++next)
            EXPECT_LE(spans[next - 1].second, spans[next].first) << gen::MEMORY_ARRAY[mem].name << " at " << spans[next].first;
    }
}

TEST(CatalogueAreas, LensListsTheFirstTwelveLensMarkersAsCopies) {
    MemoryInfo const& lens = gen::MEMORY_ARRAY[5];
    MemoryInfo const& markers = gen::MEMORY_ARRAY[6];
    for (unsigned int copy = 0; copy < 12; ++copy) {
        VariableInfo const& listed = lens.variables[20 + copy];
        VariableInfo const& own = markers.variables[copy];
        EXPECT_STREQ(listed.name, own.name);
        EXPECT_EQ(listed.memory, &gMemLensMarkers) << listed.name;
        EXPECT_EQ(listed.offset, own.offset) << listed.name;
        EXPECT_EQ(listed.event, own.event) << listed.name;
        EXPECT_EQ(listed.baseType, own.baseType) << listed.name;
        EXPECT_EQ(text(listed.min) + text(listed.max), text(own.min) + text(own.max)) << listed.name;
    }
    for (unsigned int var = 0; var < 20; ++var) EXPECT_EQ(lens.variables[var].memory, &gMemLens);
}

TEST(CatalogueTypes, TotalsPerBaseTypeAndLimitClass) {
    std::map<BaseType, int> perType;
    int lists = 0, fullInts = 0, wideFloats = 0, unitFloats = 0;
    for (VariableInfo const* info : allVariables()) {
        ++perType[info->baseType];
        lists += info->event.flag == 1;
        fullInts += info->baseType == TypeInt && text(info->min) == "-2147483648" && text(info->max) == "2147483647";
        wideFloats += info->baseType == TypeFloat && text(info->min) == "-1e+38" && text(info->max) == "1e+38";
        unitFloats += info->baseType == TypeFloat && text(info->min) == "-1" && text(info->max) == "1";
    }
    EXPECT_EQ(perType[TypeBool], 304);
    EXPECT_EQ(perType[TypeInt], 153);
    EXPECT_EQ(perType[TypeFloat], 126);
    EXPECT_EQ(perType[TypeEnum], 124);
    EXPECT_EQ(perType[TypeString], 57);
    EXPECT_EQ(perType[TypeStruct], 38);
    EXPECT_EQ(perType[TypeBuffer], 8);
    EXPECT_EQ(lists, 29);
    EXPECT_EQ(fullInts, 75);
    EXPECT_EQ(wideFloats, 67);
    EXPECT_EQ(unitFloats, 42);
}

TEST(CatalogueTypes, RecordFieldsFollowTheBaseType) {
    std::set<std::string> const capacities = {"3", "10", "18", "20", "29", "30", "32", "40", "50", "60", "64", "128", "2048"};
    std::set<std::string> const bufferLengths = {"1", "3", "4", "64"};
    std::map<std::string, int> singles;
    for (VariableInfo const* info : allVariables()) {
        std::string name = info->name;
        bool numeric = info->baseType == TypeInt || info->baseType == TypeFloat;
        bool list = info->baseType == TypeStruct && info->event.flag == 1;
        EXPECT_EQ(info->event.index, 0u) << name;
        EXPECT_EQ(info->min != nullptr, numeric || info->baseType == TypeBuffer) << name;
        EXPECT_EQ(info->max != nullptr, numeric || info->baseType == TypeBuffer) << name;
        EXPECT_EQ(info->isArray, info->baseType == TypeString || list) << name;
        EXPECT_EQ(info->arrayLength != nullptr, info->baseType == TypeString || info->baseType == TypeBuffer || list) << name;
        EXPECT_EQ(info->structInfo != nullptr, info->baseType == TypeStruct) << name;
        EXPECT_EQ(info->elementSize != 0, info->baseType == TypeStruct) << name;
        EXPECT_TRUE(info->getter != nullptr && info->setter != nullptr) << name;
        if (info->baseType == TypeString) {
            EXPECT_TRUE(capacities.count(info->arrayLength)) << name;
        }
        if (info->baseType == TypeBuffer) {
            EXPECT_TRUE(bufferLengths.count(info->arrayLength)) << name;
            EXPECT_EQ(name.substr(name.size() - 5), "Flags");
            EXPECT_STREQ(info->min, "0");
            EXPECT_STREQ(info->max, info->arrayLength) << name;
        }
        if (info->baseType == TypeEnum) {
            EXPECT_NO_THROW(IntrospectionEnum::getEnumIndex(info->typeName)) << name;
        }
        if (info->baseType == TypeStruct && !list) ++singles[info->typeName];
    }
    EXPECT_EQ(singles, (std::map<std::string, int>{{"Motor", 4}, {"LensTable", 4}, {"LensDescTable", 1}}));
}

struct Telling {
    unsigned int mem, var;
    char const* name;
    char const* typeName;
    BaseType baseType;
    unsigned int offset;
    char const* min;
    char const* max;
    char const* length;
    Notify event;
    unsigned int elementSize;
};

TEST(CatalogueTypes, TellingEntriesAreExact) {
    Telling const entries[] = {
        {8, 0, "FocusMotor", "Motor", TypeStruct, 0, nullptr, nullptr, nullptr, {146, 0, 0}, 88},
        {8, 3, "AUXMotor", "Motor", TypeStruct, 264, nullptr, nullptr, nullptr, {152, 0, 0}, 88},
        {8, 12, "FocusGearTeethSet", "int", TypeInt, 368, "0", "255", nullptr, {157, 0, 0}, 0},
        {8, 15, "FocusTorqueSet", "int", TypeInt, 380, "1", "4", nullptr, {160, 0, 0}, 0},
        {1, 0, "PowerState", "PowerState", TypeEnum, 0, nullptr, nullptr, nullptr, {193, 0, 0}, 0},
        {1, 22, "JoystickX", "float", TypeFloat, 88, "-1", "1", nullptr, {709, 0, 0}, 0},
        {1, 29, "RadioRSSI", "int", TypeInt, 108, "-200", "0", nullptr, {204, 0, 0}, 0},
        {1, 76, "ExternalZoomValue", "float", TypeFloat, 368, "-1e+38", "1e+38", nullptr, {145, 0, 0}, 0},
        {4, 0, "ModemVersionString", "string", TypeString, 0, nullptr, nullptr, "50", {111, 0, 0}, 0},
        {13, 11, "DeviceUpdateProgress", "int", TypeInt, 16, "0", "100", nullptr, {804, 0, 0}, 0},
        {2, 3, "DmdTypeFlags", "buffer", TypeBuffer, 9, "0", "1", "1", {330, 0, 0}, 0},
        {3, 78, "CamClipList0", "CamClipListItemStruct", TypeStruct, 10980, nullptr, nullptr, "500", {626, 1, 0}, 128},
        {17, 0, "AppServiceLogLevel", "LogLevel", TypeEnum, 0, nullptr, nullptr, nullptr, {918, 0, 0}, 0},
    };
    for (Telling const& entry : entries) {
        VariableInfo const& info = Introspection::variable(entry.mem, entry.var);
        SCOPED_TRACE(entry.name);
        EXPECT_STREQ(info.name, entry.name);
        EXPECT_EQ(info.memory, gen::AREA_POINTERS[entry.mem]);
        EXPECT_STREQ(info.typeName, entry.typeName);
        EXPECT_EQ(info.baseType, entry.baseType);
        EXPECT_EQ(info.offset, entry.offset);
        EXPECT_EQ(text(info.min), text(entry.min));
        EXPECT_EQ(text(info.max), text(entry.max));
        EXPECT_EQ(text(info.arrayLength), text(entry.length));
        EXPECT_EQ(info.event, entry.event);
        EXPECT_EQ(info.elementSize, entry.elementSize);
    }
}

TEST(CatalogueTypes, FactsOtherModulesRelyOn) {
    struct Fact {
        unsigned int mem, var;
        char const* name;
        char const* typeName;
        char const* length;
        unsigned int event;
    };
    Fact const facts[] = {
        {0, 0, "ProductName", "string", "20", 0},
        {0, 1, "ProductVersion", "string", "20", 0},
        {0, 45, "PreMarkedRingAutoDet", "bool", nullptr, 41},
        {4, 9, "VariableLogging", "bool", nullptr, 0},
        {7, 1, "TlxDeviceList", "TlxDevice", "16", 0},
        {7, 2, "TlxUpdateDeviceName", "string", "50", 0},
        {7, 3, "TlxUpdateDeviceSerial", "int", nullptr, 0},
        {7, 4, "TlxUpdateFileName", "string", "128", 0},
        {7, 5, "TlxUpdateStart", "bool", nullptr, 0},
        {7, 10, "TlxUpdateState", "UpdateState", nullptr, 0},
        {12, 20, "ServiceModeWritingToRing1Wire", "bool", nullptr, 407},
        {12, 21, "ServiceMode1WireModemLabel", "string", "64", 408},
        {12, 22, "ServiceMode1WireRingLabel", "string", "64", 409},
        {12, 25, "ServiceModeConnectedModemType", "ModemType", nullptr, 412},
        {14, 3, "HostUpdateFileName", "string", "128", 0},
        {14, 4, "HostUpdateFileState", "UpdateState", nullptr, 0},
        {14, 6, "HostUpdateStart", "bool", nullptr, 0},
    };
    for (Fact const& fact : facts) {
        VariableInfo const& info = Introspection::variable(fact.mem, fact.var);
        SCOPED_TRACE(fact.name);
        EXPECT_STREQ(info.name, fact.name);
        EXPECT_STREQ(info.typeName, fact.typeName);
        EXPECT_EQ(text(info.arrayLength), text(fact.length));
        if (fact.event) {
            EXPECT_EQ(info.event.id, fact.event);
        }
    }
    EXPECT_EQ(Introspection::variable(17, 0).offset, 0u) << "the log threshold is the first word of MemApp";
}

struct StructFacts {
    char const* name;
    unsigned int size;
    char const* fields;  // name type offset, ...; a name of * is the model's own
};

StructFacts const STRUCTURES[] = {
    {"ScaleValues", 48,
     "TableEntryFlags int 0, EncoderValue int 4, EngravedValue float 8, PrimaryEngravedValueAsString "
     "string 12, SecondaryEngravedValueAsString string 27, InterpolEngravedVal float 44"},
    {"LensTable", 12316,
     "TableActive bool 0, LensTableMaxInterpolPos int 4, LensTableMinInterpolPos int 8, "
     "LensTableUpperBound int 12, LensTableLowerBound int 16, LensTableValueListSize int 20, "
     "LensTableValueList ScaleValues 24, LensTableMotorAtLeftSide bool 12312, LensTableInverse bool 12313"},
    {"LensDescTable", 140,
     "TableActive bool 0, Index int 4, FocalLength int 8, MeterScaleFitted bool 12, LensText string 13, "
     "LensBrandName string 63, TextActive bool 113, SerialNumber string 114, TableVersion int 136"},
    {"Motor", 88,
     "CalActive bool 0, CalRequest bool 1, CalSkippable bool 2, SetToIdle bool 3, OffsetActive bool 4, "
     "ActPosValid bool 5, ActPosition int 8, GearTeethAuto bool 12, GearTeethAct int 16, State "
     "MotorStatus 20, ConnectState MotorConnection 24, Side MotorSide 28, BndUpper int 32, BndLower int "
     "36, SoftBndUpper int 40, SoftBndLower int 44, SoftBndActive bool 48, MasterMode bool 49, "
     "CalFinished bool 50, MotorAxis Axis 52, RealLowerLimit float 56, RealUpperLimit float 60, "
     "ManualCalibrationPossible bool 64, MotorRequestSoftBnd int 68, MotorIsOnBoundary bool 72, "
     "StartCalib bool 73, SkipCalib SkipCalibration 76, GearTeethSet int 80, ConnectNew bool 84"},
    {"RadioStruct", 8,
     "Channel int 0, Region RadioRegion 4"},
    {"TlxDevice", 212,
     "TlxDeviceConnected bool 0, TlxId int 4, TlxSerNumber int 8, TlxDeviceName string 12, "
     "TlxBootSwBootVersion string 62, TlxMainSwVersion string 112, * string 162"},
    {"CameraSupplyStruct", 8,
     "CamSupplyWarning SupplyWarning 0, CamSupplyValue float 4"},
    {"ButtonState", 2,
     "ButtonPressed bool 0, ButtonOk bool 1"},
    {"BluetoothDeviceStruct", 64,
     "BluetoothDeviceAddress string 0, BluetoothDeviceName string 20, BluetoothDeviceState "
     "BluetoothDeviceState 60"},
    {"HostUpdateFileStruct", 128,
     "HostUpdateFileName string 0"},
    {"DeviceUpdateFileStruct", 128,
     "DeviceUpdateFileName string 0"},
    {"CamUserButtonStruct", 60,
     "UbLabel string 0, UbStatus string 30"},
    {"LensFile", 40,
     "LensFileName string 0"},
    {"CamSpeedListStruct", 4,
     "CamSpeed float 0"},
    {"CamShutterListStruct", 4,
     "CamShutter float 0"},
    {"CamExposureIndexListStruct", 4,
     "CamExposureIndex int 0"},
    {"CamWhiteBalanceListStruct", 40,
     "CamWhiteBalance int 0, CamWhiteBalanceTint float 4, CamWhiteBalanceLabel string 8"},
    {"CamNdFilterListStruct", 30,
     "CamNdFilter string 0"},
    {"CamExposureTimeListStruct", 4,
     "CamExposureTime int 0"},
    {"CamUserSetupListStruct", 36,
     "CamUserSetup int 0, CamUserSetupLabel string 4"},
    {"CamListTextLabelStruct", 30,
     "CamListTextLabel string 0"},
    {"UserSetupFiles", 22,
     "UserSetupFile string 0"},
    {"CamFeatureStruct", 15,
     "CamFeature string 0"},
    {"LensTableRawStruct", 4,
     "LensTableValue int 0"},
    {"TraceInfoStruct", 16,
     "TraceInfoDrawFlags int 0, TraceInfoEventFlags int 4, TraceInfoVarFlags int 8, TraceInfoPageFlags "
     "int 12"},
    {"CdmCoordinates", 20,
     "CdmValid int 0, CdmX float 4, CdmY float 8, CdmXNormalized float 12, CdmYNormalized float 16"},
    {"DateTimezoneContinentStruct", 20,
     "DateTimezoneContinent string 0"},
    {"DateTimezoneCountryStruct", 30,
     "DateTimezoneCountry string 0"},
    {"CamClipListItemStruct", 128,
     "CamClipPlayable bool 0, CamClipFramerate float 4, CamClipName string 8, CamClipTimeCode string 38, "
     "CamClipLength string 68, CamClipCodec string 98"},
    {"FileBrowserEntryStruct", 50,
     "FileBrowserName string 0, FileBrowserInfo string 40"},
};

struct Generated {
    std::vector<StructInfo> const* fields;
    size_t size;
};

std::map<std::string, Generated> const GENERATED = {
    {"ScaleValues", {&gen::SCALEVALUES_FIELDS, sizeof(gen::ScaleValues)}},
    {"LensTable", {&gen::LENSTABLE_FIELDS, sizeof(gen::LensTable)}},
    {"LensDescTable", {&gen::LENSDESCTABLE_FIELDS, sizeof(gen::LensDescTable)}},
    {"Motor", {&gen::MOTOR_FIELDS, sizeof(gen::Motor)}},
    {"RadioStruct", {&gen::RADIOSTRUCT_FIELDS, sizeof(gen::RadioStruct)}},
    {"TlxDevice", {&gen::TLXDEVICE_FIELDS, sizeof(gen::TlxDevice)}},
    {"CameraSupplyStruct", {&gen::CAMERASUPPLYSTRUCT_FIELDS, sizeof(gen::CameraSupplyStruct)}},
    {"ButtonState", {&gen::BUTTONSTATE_FIELDS, sizeof(gen::ButtonState)}},
    {"BluetoothDeviceStruct", {&gen::BLUETOOTHDEVICESTRUCT_FIELDS, sizeof(gen::BluetoothDeviceStruct)}},
    {"HostUpdateFileStruct", {&gen::HOSTUPDATEFILESTRUCT_FIELDS, sizeof(gen::HostUpdateFileStruct)}},
    {"DeviceUpdateFileStruct", {&gen::DEVICEUPDATEFILESTRUCT_FIELDS, sizeof(gen::DeviceUpdateFileStruct)}},
    {"CamUserButtonStruct", {&gen::CAMUSERBUTTONSTRUCT_FIELDS, sizeof(gen::CamUserButtonStruct)}},
    {"LensFile", {&gen::LENSFILE_FIELDS, sizeof(gen::LensFile)}},
    {"CamSpeedListStruct", {&gen::CAMSPEEDLISTSTRUCT_FIELDS, sizeof(gen::CamSpeedListStruct)}},
    {"CamShutterListStruct", {&gen::CAMSHUTTERLISTSTRUCT_FIELDS, sizeof(gen::CamShutterListStruct)}},
    {"CamExposureIndexListStruct", {&gen::CAMEXPOSUREINDEXLISTSTRUCT_FIELDS, sizeof(gen::CamExposureIndexListStruct)}},
    {"CamWhiteBalanceListStruct", {&gen::CAMWHITEBALANCELISTSTRUCT_FIELDS, sizeof(gen::CamWhiteBalanceListStruct)}},
    {"CamNdFilterListStruct", {&gen::CAMNDFILTERLISTSTRUCT_FIELDS, sizeof(gen::CamNdFilterListStruct)}},
    {"CamExposureTimeListStruct", {&gen::CAMEXPOSURETIMELISTSTRUCT_FIELDS, sizeof(gen::CamExposureTimeListStruct)}},
    {"CamUserSetupListStruct", {&gen::CAMUSERSETUPLISTSTRUCT_FIELDS, sizeof(gen::CamUserSetupListStruct)}},
    {"CamListTextLabelStruct", {&gen::CAMLISTTEXTLABELSTRUCT_FIELDS, sizeof(gen::CamListTextLabelStruct)}},
    {"UserSetupFiles", {&gen::USERSETUPFILES_FIELDS, sizeof(gen::UserSetupFiles)}},
    {"CamFeatureStruct", {&gen::CAMFEATURESTRUCT_FIELDS, sizeof(gen::CamFeatureStruct)}},
    {"LensTableRawStruct", {&gen::LENSTABLERAWSTRUCT_FIELDS, sizeof(gen::LensTableRawStruct)}},
    {"TraceInfoStruct", {&gen::TRACEINFOSTRUCT_FIELDS, sizeof(gen::TraceInfoStruct)}},
    {"CdmCoordinates", {&gen::CDMCOORDINATES_FIELDS, sizeof(gen::CdmCoordinates)}},
    {"DateTimezoneContinentStruct", {&gen::DATETIMEZONECONTINENTSTRUCT_FIELDS, sizeof(gen::DateTimezoneContinentStruct)}},
    {"DateTimezoneCountryStruct", {&gen::DATETIMEZONECOUNTRYSTRUCT_FIELDS, sizeof(gen::DateTimezoneCountryStruct)}},
    {"CamClipListItemStruct", {&gen::CAMCLIPLISTITEMSTRUCT_FIELDS, sizeof(gen::CamClipListItemStruct)}},
    {"FileBrowserEntryStruct", {&gen::FILEBROWSERENTRYSTRUCT_FIELDS, sizeof(gen::FileBrowserEntryStruct)}},
};

TEST(CatalogueStructures, LayoutsAndFieldListsAreTheModels) {
    ASSERT_EQ(GENERATED.size(), 30u);
    for (StructFacts const& facts : STRUCTURES) {
        SCOPED_TRACE(facts.name);
        Generated const& generated = GENERATED.at(facts.name);
        EXPECT_EQ(generated.size, facts.size);
        std::vector<std::string> expected = words(facts.fields, ',');
        ASSERT_EQ(generated.fields->size(), expected.size());
        for (size_t at = 0; at < expected.size(); ++at) {
            StructInfo const& field = (*generated.fields)[at];
            std::vector<std::string> parts = words(expected[at]);
            if (parts[0] != "*") {
                EXPECT_STREQ(field.name, parts[0].c_str());
            }
            EXPECT_EQ(field.typeName, parts[1]);
            EXPECT_EQ(field.offset, std::stoul(parts[2])) << field.name;
            BaseType base = parts[1] == "bool"     ? TypeBool
                            : parts[1] == "int"    ? TypeInt
                            : parts[1] == "float"  ? TypeFloat
                            : parts[1] == "string" ? TypeString
                            : GENERATED.count(parts[1]) ? TypeStruct
                                                        : TypeEnum;
            EXPECT_EQ(field.baseType, base) << field.name;
            EXPECT_EQ(field.fields, nullptr) << "field lists hold no nested lists";
        }
    }
}

TEST(CatalogueStructures, VariablesShareTheFieldListOfTheirType) {
    for (VariableInfo const* info : allVariables()) {
        if (info->baseType != TypeStruct) continue;
        Generated const& generated = GENERATED.at(info->typeName);
        EXPECT_EQ(info->structInfo, generated.fields) << info->name;
        EXPECT_EQ(info->elementSize, generated.size) << info->name;
    }
}

struct EnumFacts {
    char const* name;
    unsigned int count;
};

EnumFacts const ENUMS[] = {
    {"LogLevel", 8},
    {"MotorStatus", 6},
    {"MotorConnection", 3},
    {"PowerState", 6},
    {"ScalePartType", 5},
    {"Language", 4},
    {"EditVariable", 76},
    {"SteeringAxis", 5},
    {"Axis", 6},
    {"LensType", 9},
    {"LenUnit", 2},
    {"UserButton", 19},
    {"RadioRegion", 20},
    {"CamIntStates", 3},
    {"SoundType", 2},
    {"MotorSide", 2},
    {"RadioStates", 13},
    {"CameraState", 11},
    {"FootageUnit", 5},
    {"SupplyWarning", 3},
    {"SupplyUnit", 3},
    {"BluetoothDeviceState", 2},
    {"ButtonName", 13},
    {"FuncQJVPages", 5},
    {"UsbState", 3},
    {"CtmStates", 5},
    {"FocusBugFOV", 3},
    {"UpdateState", 14},
    {"SkipCalibration", 3},
    {"DisplayUnit", 3},
    {"DataSources", 2},
    {"DisplayUnitConversion", 3},
    {"LensBrand", 12},
    {"KnobColor", 7},
    {"FocalLength", 36},
    {"ConTransState", 6},
    {"BorderColor", 3},
    {"AutoWBResults", 5},
    {"CameraType", 15},
    {"LensProgTypes", 3},
    {"SDIStatusInfo", 3},
    {"PageName", 3},
    {"CommandResult", 3},
    {"TimezoneSelection", 2},
    {"PlaybackSpeed", 13},
    {"SymbolTypes", 1},
    {"SymbolColor", 5},
    {"CamDataState", 3},
    {"ForcePadDir", 5},
    {"SymbolPopup", 17},
    {"MotorPriorityForGui", 3},
    {"MotorPriorityToCam", 2},
    {"ModemType", 4},
    {"LedColor", 5},
    {"DmdSources", 3},
    {"DmdTypes", 5},
    {"MotorTeeth", 4},
    {"VibrationType", 2},
    {"FileBrowserFunction", 7},
    {"FileBrowserOperation", 4},
    {"FileBrowserBaseDirectory", 2},
    {"FileBrowserFilter", 2},
    {"DeviceUpdateType", 2},
    {"ValidationIndicator", 3},
    {"CanConnectState", 4},
    {"DisplayTest", 7},
    {"PremarkedMetric", 12},
    {"PremarkedImperial", 14},
    {"PreviousPage", 2},
};

TEST(CatalogueEnumerations, NamesAndCountsInOrder) {
    ASSERT_EQ(gen::ENUM_ARRAY_SIZE, 69u);
    for (unsigned int idx = 0; idx < 69; ++idx) {
        EXPECT_STREQ(gen::ENUM_ARRAY[idx].name, ENUMS[idx].name);
        EXPECT_EQ(gen::ENUM_ARRAY[idx].count, ENUMS[idx].count) << ENUMS[idx].name;
        std::set<std::string> distinct(gen::ENUM_ARRAY[idx].entries, gen::ENUM_ARRAY[idx].entries + gen::ENUM_ARRAY[idx].count);
        EXPECT_EQ(distinct.size(), ENUMS[idx].count) << ENUMS[idx].name;
    }
    EXPECT_EQ(gen::MOTORSTATUS_NAME_ARRAY_SIZE, 6u);
    EXPECT_EQ(gen::ENUM_ARRAY[1].entries, gen::MOTORSTATUS_NAME_ARRAY);
}

TEST(CatalogueEnumerations, GivenEntriesAreExact) {
    std::map<std::string, std::string> const given = {
        {"LogLevel", "DebugAll DebugMost DebugLight LogAll LogMost LogLight Warn Error"},
        {"MotorStatus", "Unknown Present Absent Unavailable NewConnected NotDriven"},
        {"MotorConnection", "NotConnected ConnectedToModem ConnectedToCable"},
        {"PowerState", "Unknown SmartBattery DumbBattery Tlx GoldCap Usb"},
        {"Axis", "Off Focus Iris Zoom AUX DMD"},
        {"SkipCalibration", "Skip StartCalibration None"},
        {"RadioStates", "Unknown Init Listening Searching Connecting Waiting Operating Rejected Restart ConfigChangeChannel ConfigChangeRegion Update ConfigChangePowerBoost"},
        {"UpdateState", "NoFileSelected CheckingFile FileValid FileNotFound FileCorrupt FileNotCompatible CopyingFile CopyingFailed RebootFailed Rebooting Success Failed DeviceNotFound InProgress"},
        {"CommandResult", "NoResult Success Failure"},
        {"PlaybackSpeed", "rw64 rw32 rw16 rw8 rw4 rw2 normal ffw2 ffw4 ffw8 ffw16 ffw32 ffw64"},
        {"ValidationIndicator", "None Invalid Valid"},
        {"PageName", "QJV Camera Root"},
        {"FileBrowserBaseDirectory", "InternKpt ExternKpt"},
    };
    for (auto const& [name, entries] : given) {
        EnumInfo const& info = gen::ENUM_ARRAY[IntrospectionEnum::getEnumIndex(name.c_str())];
        EXPECT_EQ(std::vector<std::string>(info.entries, info.entries + info.count), words(entries)) << name;
    }
    EnumInfo const& camera = gen::ENUM_ARRAY[IntrospectionEnum::getEnumIndex("CameraType")];
    EXPECT_STREQ(camera.entries[6], "Unknown");
    EXPECT_STREQ(camera.entries[14], "Init");
}

}  // namespace
