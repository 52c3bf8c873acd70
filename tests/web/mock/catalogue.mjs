// A plausible catalogue of the device's variables for the mock service, with
// values and their texts in the byte layouts the real service writes.

import { ENUMS, MEMORIES, STRUCTS } from './data-model.mjs';

const LISTS = {
  CamClipList0: ['CamClipListItemStruct', 500], CamClipList1: ['CamClipListItemStruct', 500],
  TlxDeviceList: ['TlxDevice', 8], BluetoothDeviceList: ['BluetoothDeviceStruct', 10],
  HostUpdateFileList: ['HostUpdateFileStruct', 10], DeviceUpdateFileList: ['DeviceUpdateFileStruct', 10],
  CamUserButtons: ['CamUserButtonStruct', 6], LensFileList: ['LensFile', 100], MruLensFileList: ['LensFile', 10],
  RecentLensFiles: ['LensFile', 5], CamSpeedList: ['CamSpeedListStruct', 30], CamShutterList: ['CamShutterListStruct', 30],
  CamExposureIndexList: ['CamExposureIndexListStruct', 30], CamWhiteBalanceList: ['CamWhiteBalanceListStruct', 20],
  CamNdFilterList: ['CamNdFilterListStruct', 10], CamExposureTimeList: ['CamExposureTimeListStruct', 30],
  CamUserSetupList: ['CamUserSetupListStruct', 10], CamUserSetupDescList: ['CamListTextLabelStruct', 10],
  CamLiveCamInfoList: ['CamListTextLabelStruct', 10], CamMonOutList: ['CamListTextLabelStruct', 5],
  CamMonOutFunctionList: ['CamFeatureStruct', 5], UserSetupList: ['UserSetupFiles', 20],
  DateTimezoneContinentList: ['DateTimezoneContinentStruct', 10], DateTimezoneCountryList: ['DateTimezoneCountryStruct', 30],
  FileBrowserEntryList: ['FileBrowserEntryStruct', 50], CdmCoordinatesList: ['CdmCoordinates', 20],
  ButtonList: ['ButtonState', 13], RadioModuleList: ['RadioStruct', 4], LensTableRaw: ['LensTableRawStruct', 4],
};
const SINGLE_STRUCTS = {
  FocusMotor: 'Motor', IrisMotor: 'Motor', ZoomMotor: 'Motor', AUXMotor: 'Motor',
  LensTableFocusMeter: 'LensTable', LensTableFocusImperial: 'LensTable', LensTableIris: 'LensTable',
  LensTableZoom: 'LensTable', LensTableDescription: 'LensDescTable', CamSupply: 'CameraSupplyStruct',
  TRACE_INFO_VARIABLE: 'TraceInfoStruct',
};
const BUFFERS = {
  DmdTypeFlags: 1, RadioRegionFlags: 3, UserButtonsFlags: 4, KnobAssignmentFlags: 4, SliderAssignmentFlags: 4,
  ForcePadAssignmentFlags: 4, CamClipList0EnabledFlags: 64, CamClipList1EnabledFlags: 64,
};
const ENUM_VARIABLES = {
  PowerState: 'PowerState', RadioState: 'RadioStates', RadioRegion: 'RadioRegion', ModemType: 'ModemType',
  CamState: 'CameraState', CamType: 'CameraType', Language: 'Language', KnobColor: 'KnobColor', DisplayUnit: 'DisplayUnit',
  SoundType: 'SoundType', UsbState: 'UsbState', CtmState: 'CtmStates', DeviceUpdateState: 'UpdateState',
  HostUpdateFileState: 'UpdateState', TlxUpdateState: 'UpdateState', LastCommandResult: 'CommandResult',
  CamClipPlaybackSpeed: 'PlaybackSpeed', PreviousPage: 'PreviousPage', FileBrowserBaseDirectory: 'FileBrowserBaseDirectory',
  FileBrowserFunction: 'FileBrowserFunction', FileBrowserOperation: 'FileBrowserOperation', FileBrowserFilter: 'FileBrowserFilter',
  CanConnectState: 'CanConnectState', DisplayUnitConversion: 'DisplayUnitConversion', ContainerTransferState: 'ConTransState',
  DataSource: 'DataSources', DmdSource: 'DmdSources', DmdType1: 'DmdTypes', DmdType2: 'DmdTypes', CamFootageUnit: 'FootageUnit',
  ServiceModeDisplayTest: 'DisplayTest', LedRunColor: 'LedColor', PopupSymbol: 'SymbolPopup', PopupSymbolColor: 'SymbolColor',
  UserButton1: 'UserButton', UserButton2: 'UserButton', UserButton3: 'UserButton', EditVariable_Local: 'EditVariable',
  FuncQJV: 'FuncQJVPages', InfoScreenBorderColor: 'BorderColor', CamWhiteBalanceAutoResult: 'AutoWBResults',
  ManualCalibrationAxis: 'Axis', LensProgrammingBrand: 'LensBrand', LensProgrammingType: 'LensType',
  FocusBugFieldOfView: 'FocusBugFOV', PreMarkedEnumMetric: 'PremarkedMetric', PreMarkedEnumImperial: 'PremarkedImperial',
  CamSDIStatusInfoSet: 'SDIStatusInfo', CamSDIStatusInfoAct: 'SDIStatusInfo', CamDataAvailable: 'CamDataState',
  LensMarkerVibrationType: 'VibrationType', DateTimezoneSelection: 'TimezoneSelection', FocusMotorTeeth: 'MotorTeeth',
};
const STRING_NAME = /(String|Name|Version$|Serial$|SerialNr|Label|Descr$|Address|Commit|Codec|Directory|Argument|Revision|FWVersion|Continent$|Country$)/;
const BOOL_NAME = /(Is|Enable|Active|Flash|Visible|Pressed|Available|Valid|Lock|Reverse|Mute|Inverted|Hidden|Start$|Stop$|Save$|Toggle$|Flag$|Possible|Done|Confirmation|Connected|Supported|Successful|Auto|Mode$|Set$|Delete$|Repeat|Scan$|Discoverable|Power$|Boost$|Failed|Warning$|Update$|Corrupted|Error$|Handled|Play$|Snap$|Disable)/;
const FLOAT_NAME = /(Value\d?$|Norm$|Voltage|Temperature|Current$|Joystick[XY]$|Distance|Meter$|Feet$|Inch$|Percent|Acceleration|FocalLength$|Pupil|Tint|Magnification|LightLoss|Framerate|Knob$|Slider$)/;

export const enumEntries = (name) => ENUMS[name].split(' ');

function describe(name, index) {
  if (LISTS[name]) return { base: 'struct', type: LISTS[name][0], count: LISTS[name][1] };
  if (SINGLE_STRUCTS[name]) return { base: 'struct', type: SINGLE_STRUCTS[name] };
  if (BUFFERS[name]) return { base: 'buffer', type: 'buffer', bytes: BUFFERS[name] };
  if (ENUM_VARIABLES[name] || name.endsWith('LogLevel')) return { base: 'enum', type: ENUM_VARIABLES[name] ?? 'LogLevel' };
  if (STRING_NAME.test(name)) return { base: 'string', type: 'string', capacity: 50 };
  if (BOOL_NAME.test(name)) return { base: 'bool', type: 'bool' };
  if (FLOAT_NAME.test(name)) return name.startsWith('Joystick') ? { base: 'float', type: 'float', min: '-1', max: '1' }
    : { base: 'float', type: 'float', min: '-1e+38', max: '1e+38' };
  return index % 2 ? { base: 'int', type: 'int', min: '0', max: '255' }
    : { base: 'int', type: 'int', min: '-2147483648', max: '2147483647' };
}

// Field defaults: a few recognisable texts, the rest zero.
function fieldDefault([name, base, type, count], element) {
  switch (base) {
    case 'int': return String(element % 7);
    case 'float': return (element * 0.5).toFixed(6);
    case 'bool': return element % 3 === 0 ? 'true' : 'false';
    case 'enum': return enumEntries(type)[1 % enumEntries(type).length];
    case 'array': return Array.from({ length: count }, (_, i) => structDefault(type, i));
    default: return name === 'CamClipName' && element < 12 ? `A${String(element + 1).padStart(3, '0')}C001` : '';
  }
}

export function structDefault(type, element = 0) {
  return Object.fromEntries(STRUCTS[type].map((field) => [field[0], fieldDefault(field, element)]));
}

function scalarDefault(variable, index) {
  switch (variable.base) {
    case 'int': return String(index % 100);
    case 'float': return variable.min === '-1' ? '0.250000' : (index / 4).toFixed(6);
    case 'bool': return index % 3 === 0 ? 'true' : 'false';
    case 'enum': return enumEntries(variable.type)[index % enumEntries(variable.type).length];
    case 'buffer': return '00'.repeat(variable.bytes);
    default: return '';
  }
}

const STRINGS = { ModemVersionString: '2.14.3', ProductName: 'Hand unit', ProductVersion: '5.2.0', ProductSerial: '1234' };

export function buildCatalogue() {
  const memories = [];
  let index = 0;
  for (const [memory, names] of MEMORIES) {
    const variables = names.split(' ').map((name) => {
      const variable = { memory, name, ...describe(name, index) };
      // Event numbers interleave the memories, as the real event table does.
      variable.event = 6 + ((index * 389) % 929);
      if (variable.base !== 'struct') variable.value = STRINGS[name] ?? scalarDefault(variable, index);
      else if (variable.count) variable.value = Array.from({ length: variable.count }, (_, i) => structDefault(variable.type, i));
      else variable.value = structDefault(variable.type);
      index++;
      return variable;
    });
    memories.push({ name: memory, variables });
  }
  return memories;
}

// ---- texts in the service's layouts ----

export function printValue(value, type, min, max) {
  return JSON.stringify({ max, min, type, value });
}

export function printBool(value) {
  return `{ "value": "${value === 'true'}", "type": "bool", "textid": [ "false", "true" ]}`;
}

export function printEnum(value, type) {
  return `{ "value": "${value}", "type": "${type}", "textid": [ ${enumEntries(type).map((e) => `"${e}"`).join(',')}]}`;
}

const escape = (text) => text.replace(/["\\]/g, '\\$&');

export function structText(type, value) {
  const fields = STRUCTS[type].map(([name, base, fieldType]) => {
    const text = value[name];
    switch (base) {
      case 'bool': return `"${name}": ${printBool(text)}`;
      case 'int': return `"${name}": ${printValue(text, 'int', '-2147483648', '2147483647')}`;
      case 'float': return `"${name}": ${printValue(text, 'float', '-1e+38', '1e+38')}`;
      case 'enum': return `"${name}":  ${printEnum(text, fieldType)}`;
      case 'array': return `"${name}":[${text.map((element) => structText(fieldType, element)).join(',')}]`;
      default: return `"${name}": {"value":"${escape(text)}", "type": "string" }`;
    }
  });
  return `{${fields.join(',')}}`;
}

export function variableText(variable) {
  if (variable.error) return `"ERROR": "${variable.error}"`;
  const { base, type, value } = variable;
  switch (base) {
    case 'struct': return variable.count ? `[${value.map((element) => structText(type, element)).join(',')}]` : structText(type, value);
    case 'enum': return printEnum(value, type);
    case 'bool': return printBool(value);
    case 'buffer': return printValue(value, 'string', '0', String(variable.bytes));
    case 'string': return printValue(value, 'string', '0', '0');
    default: return printValue(value, type, variable.min, variable.max);
  }
}
