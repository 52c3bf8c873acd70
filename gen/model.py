"""The device's data model as read from gen/model: enumerations, structure
types, shared-memory areas with their variables, and the event table.

Offsets are not written in the model; they follow from index order and
natural alignment. Pinned offsets ("@n") and the given sizes are checked, so
an edit that moves a fixed offset or overflows an area fails loudly.
"""
import re

INT_RANGE = ("-2147483648", "2147483647")
FLOAT_RANGE = ("-1e+38", "1e+38")
STRING_CAPACITIES = {3, 10, 18, 20, 29, 30, 32, 40, 50, 60, 64, 128, 2048}
BUFFER_LENGTHS = {1, 3, 4, 64}
VARIABLE_EVENT = re.compile(r"^Var\w+Changed$")
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class ModelError(Exception):
    pass


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


class Enum:
    def __init__(self, name, entries):
        self.name = name
        self.entries = entries


class Struct:
    def __init__(self, name, size):
        self.name = name
        self.size = size
        self.fields = []

    @property
    def align(self):
        return max((field.align for field in self.fields), default=1)


class Typed:
    """What a field and a variable share: a kind and the size that follows."""
    kind = None        # bool, int, float, string, buffer, enum, struct, list
    enum = None
    struct = None
    count = 0          # string capacity, buffer length or element count
    limits = (None, None)

    @property
    def size(self):
        if self.kind == "bool":
            return 1
        if self.kind in ("int", "float", "enum"):
            return 4
        if self.kind in ("string", "buffer"):
            return self.count
        if self.kind == "struct":
            return self.struct.size
        return self.struct.size * self.count

    @property
    def align(self):
        if self.kind in ("int", "float", "enum"):
            return 4
        if self.kind in ("struct", "list"):
            return self.struct.align
        return 1

    @property
    def type_name(self):
        if self.kind == "enum":
            return self.enum.name
        if self.kind in ("struct", "list"):
            return self.struct.name
        return self.kind


class Field(Typed):
    def __init__(self, name):
        self.name = name
        self.offset = None


class Variable(Typed):
    def __init__(self, name, area, index):
        self.name = name
        self.area = area
        self.index = index
        self.offset = None
        self.pinned = None
        self.original = None   # the variable a copy names in another area
        self.event = None

    @property
    def home(self):
        """The area whose payload holds the value."""
        return self.original.area if self.original else self.area


class Area:
    def __init__(self, name, size, index):
        self.name = name
        self.size = size
        self.index = index
        self.variables = []

    @property
    def own_variables(self):
        return [v for v in self.variables if v.original is None]


class Lines:
    """Meaningful lines of a model file with their numbers, for messages."""

    def __init__(self, path):
        self.path = path
        self.items = []
        with open(path) as source:
            for number, text in enumerate(source, 1):
                text = text.split("#", 1)[0].rstrip()
                if text.strip():
                    self.items.append((number, text))

    def error(self, number, message):
        return ModelError("%s:%d: %s" % (self.path, number, message))


class Model:
    def __init__(self, folder):
        self.errors = []
        self.enums = self._load_enums(Lines(folder + "/enums.txt"))
        self.enum_by_name = {e.name: e for e in self.enums}
        self.structs = self._load_structs(Lines(folder + "/structs.txt"))
        self.struct_by_name = {s.name: s for s in self.structs}
        self.areas = self._load_areas(Lines(folder + "/areas.txt"))
        self.events = self._load_events(Lines(folder + "/events.txt"))
        if not self.errors:
            self._layout_structs()
            self._layout_areas()
            self._assign_events()
        if self.errors:
            raise ModelError("\n".join(self.errors))

    # --- reading -----------------------------------------------------------

    def _load_enums(self, lines):
        enums = []
        for number, text in lines.items:
            if text[0].isspace():
                if not enums:
                    self.errors.append(str(lines.error(number, "continuation without enumeration")))
                    continue
                enums[-1].entries.extend(text.split())
                continue
            name, equals, entries = text.partition("=")
            if not equals or not IDENTIFIER.match(name.strip()):
                self.errors.append(str(lines.error(number, "expected 'Name = Entry ...'")))
                continue
            enums.append(Enum(name.strip(), entries.split()))
        for enum in enums:
            bad = [e for e in enum.entries if not IDENTIFIER.match(e)]
            if bad or len(set(enum.entries)) != len(enum.entries) or not enum.entries:
                self.errors.append("%s: entries must be distinct identifiers (%s)" % (enum.name, bad))
        return enums

    def _parse_type(self, lines, number, target, words):
        """Fills kind, count, enum/struct and limits of a field or variable."""
        if not words:
            raise lines.error(number, "a type must follow the name")
        word = words[0]
        rest = words[1:]
        list_match = re.match(r"^(\w+)\[(\d+)\]$", word)
        if word == "bool":
            target.kind = "bool"
        elif word in ("int", "float"):
            target.kind = word
            target.limits = INT_RANGE if word == "int" else FLOAT_RANGE
            if len(rest) == 2:
                target.limits = (rest[0], rest[1])
                rest = []
        elif word in ("string", "buffer"):
            if not rest or not rest[0].isdigit():
                raise lines.error(number, "%s needs its byte count" % word)
            target.kind = word
            target.count = int(rest[0])
            rest = rest[1:]
        elif list_match and list_match.group(1) in self.struct_by_name:
            target.kind = "list"
            target.struct = self.struct_by_name[list_match.group(1)]
            target.count = int(list_match.group(2))
        elif word in self.enum_by_name:
            target.kind = "enum"
            target.enum = self.enum_by_name[word]
        elif word in self.struct_by_name:
            target.kind = "struct"
            target.struct = self.struct_by_name[word]
        else:
            raise lines.error(number, "unknown type %s" % word)
        if rest:
            raise lines.error(number, "unexpected %s" % " ".join(rest))

    @staticmethod
    def _split_pin(words):
        pins = [w for w in words if w.startswith("@")]
        words = [w for w in words if not w.startswith("@")]
        return words, (int(pins[0][1:]) if pins else None)

    @staticmethod
    def _block_start(lines, number, words, keyword):
        """(name, size) when the line opens a block "keyword Name Size", else None."""
        if words[0] != keyword:
            return None
        if len(words) != 3 or not words[2].isdigit():
            raise lines.error(number, "expected '%s Name Size'" % keyword)
        return words[1], int(words[2])

    def _load_structs(self, lines):
        structs = []
        for number, text in lines.items:
            words = text.split()
            try:
                start = self._block_start(lines, number, words, "struct")
                if start:
                    structs.append(Struct(*start))
                    # Later structures may embed this one.
                    self.struct_by_name = {s.name: s for s in structs}
                    continue
                if not structs:
                    raise lines.error(number, "field outside a structure")
                words, pin = self._split_pin(words)
                field = Field(words[0])
                field.offset = pin
                self._parse_type(lines, number, field, words[1:])
                if field.kind == "buffer" or field.kind == "struct":
                    raise lines.error(number, "structure fields are scalars, strings or arrays")
                if pin is None:
                    raise lines.error(number, "every structure field gives its offset")
                structs[-1].fields.append(field)
            except ModelError as error:
                self.errors.append(str(error))
        return structs

    def _load_areas(self, lines):
        areas = []
        for number, text in lines.items:
            words = text.split()
            try:
                start = self._block_start(lines, number, words, "area")
                if start:
                    areas.append(Area(*start, len(areas)))
                    continue
                if not areas:
                    raise lines.error(number, "variable outside an area")
                area = areas[-1]
                words, pin = self._split_pin(words)
                variable = Variable(words[0], area, len(area.variables))
                variable.pinned = pin
                if len(words) == 3 and words[1] == "->":
                    variable.original = words[2]   # resolved once all areas are read
                else:
                    self._parse_type(lines, number, variable, words[1:])
                area.variables.append(variable)
            except ModelError as error:
                self.errors.append(str(error))
        by_name = {a.name: a for a in areas}
        for area in areas:
            for variable in area.variables:
                if isinstance(variable.original, str):
                    self._resolve_copy(variable, by_name)
        return areas

    def _resolve_copy(self, variable, areas_by_name):
        source = areas_by_name.get(variable.original)
        match = [v for v in source.variables if v.name == variable.name] if source else []
        if not match or match[0].original is not None:
            self.errors.append("%s.%s: no variable of that name in %s" % (variable.area.name, variable.name,
                                                                           variable.original))
            variable.original = None
            return
        original = match[0]
        variable.original = original
        for attribute in ("kind", "enum", "struct", "count", "limits"):
            setattr(variable, attribute, getattr(original, attribute))

    def _load_events(self, lines):
        events = [text.strip() for _, text in lines.items]
        # The commands come first; every later event is a variable's.
        first_variable = next((n for n, name in enumerate(events) if VARIABLE_EVENT.match(name)), len(events))
        self.commands = events[:first_variable]
        if not self.commands:
            self.errors.append("events.txt starts with no broker command")
        seen = set()
        for number, name in enumerate(events):
            if name in seen:
                self.errors.append("event %s appears twice" % name)
            seen.add(name)
            if number >= first_variable and not VARIABLE_EVENT.match(name):
                self.errors.append("event %d (%s) is not named Var<Name>Changed" % (number, name))
        return events

    # --- layout ------------------------------------------------------------

    def _layout_structs(self):
        for struct in self.structs:
            end = 0
            for field in struct.fields:
                expected = align_up(end, field.align)
                if field.offset != expected:
                    self.errors.append("%s.%s: at %d, natural alignment puts it at %d" %
                                       (struct.name, field.name, field.offset, expected))
                end = field.offset + field.size
            if align_up(end, struct.align) != struct.size:
                self.errors.append("%s: fields end at %d, size %d" % (struct.name, end, struct.size))

    def _layout_areas(self):
        for area in self.areas:
            end = 0
            for variable in area.own_variables:
                variable.offset = align_up(end, variable.align)
                if variable.pinned is not None and variable.pinned != variable.offset:
                    self.errors.append("%s.%s: pinned at %d, layout puts it at %d" %
                                       (area.name, variable.name, variable.pinned, variable.offset))
                end = variable.offset + variable.size
                self._check_length(variable)
            if align_up(end, 4) != area.size:
                self.errors.append("%s: variables end at %d, payload size %d" % (area.name, end, area.size))
        for area in self.areas:
            for variable in area.variables:
                if variable.original is not None:
                    variable.offset = variable.original.offset

    def _check_length(self, variable):
        where = "%s.%s" % (variable.area.name, variable.name)
        if variable.kind == "string" and variable.count not in STRING_CAPACITIES:
            self.errors.append("%s: string capacity %d is not one in use" % (where, variable.count))
        if variable.kind == "buffer" and variable.count not in BUFFER_LENGTHS:
            self.errors.append("%s: buffer length %d has no accessor" % (where, variable.count))

    # --- events ------------------------------------------------------------

    def _assign_events(self):
        number_of = {name: number for number, name in enumerate(self.events)}
        owner = {}
        for area in self.areas:
            names = [v.name for v in area.variables]
            if len(set(names)) != len(names):
                self.errors.append("%s: variable names repeat" % area.name)
            for variable in area.own_variables:
                event = "Var%sChanged" % variable.name
                if event not in number_of:
                    self.errors.append("%s.%s: %s is not in events.txt" % (area.name, variable.name, event))
                    continue
                if event in owner:
                    self.errors.append("%s.%s shares %s with %s" % (area.name, variable.name, event, owner[event]))
                owner[event] = "%s.%s" % (area.name, variable.name)
                variable.event = number_of[event]
        for area in self.areas:
            for variable in area.variables:
                if variable.original is not None:
                    variable.event = variable.original.event

    # --- queries -----------------------------------------------------------

    def variables(self):
        return [v for area in self.areas for v in area.variables]
