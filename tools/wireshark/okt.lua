-- OKT (Operator Kiosk Transport) for Wireshark and tshark.
--
-- Decodes the OKT messages in notifications of the data characteristic and
-- the requests written to the request characteristic, on the ATT handles of
-- the captures okt-client and okt-render write (docs/capture-format.md):
--
--   tshark -X lua_script:tools/wireshark/okt.lua -r session.btsnoop -V
--
-- or copy it to ~/.local/lib/wireshark/plugins/. Parts of a text, object or
-- variable are shown as they come; an object's or variable's body is decoded
-- once its last part has come. A message that does not fit its layout is
-- marked with an expert info, never a Lua error.

local okt = Proto("okt", "Operator Kiosk Transport")

local HANDLE_DATA = 0x0022     -- notifications: messages from the device
local HANDLE_REQUEST = 0x0025  -- writes: requests to the device

local messageTypes = {
  [1] = "INFO", [2] = "TEXT", [3] = "OBJECT", [4] = "VARIABLE", [5] = "ERROR_REPORT", [9] = "EVENT",
  [10] = "TEXT_PART", [11] = "OBJECT_PART", [12] = "OBJECT_LAST_PART", [13] = "VARIABLE_PART",
  [14] = "VARIABLE_LAST_PART",
}
local requestTypes = {
  [1] = "GET_INFO", [3] = "GET_TEXTS", [5] = "GET_OBJECTS", [7] = "GET_VARIABLES", [8] = "WRITE_VARIABLE",
  [12] = "SEND_EVENT",
}
local objectTypes = {
  [1] = "Screen", [2] = "Button", [3] = "Menu", [5] = "Polyline", [6] = "TextBox", [7] = "SvgPicture",
  [8] = "GifPicture", [9] = "DataBlock", [10] = "Gauge", [11] = "PasswordPrompt", [12] = "Popup",
  [13] = "LockObject", [15] = "JpegPicture", [16] = "Canvas",
}
local variableTypes = {
  [0] = "NONE", [1] = "BOOL", [2] = "U8", [3] = "S8", [4] = "U16", [5] = "S16", [6] = "U32", [7] = "S32",
  [8] = "STRING", [9] = "DATE", [10] = "TIME", [11] = "HOUR_MINUTE", [12] = "LIST", [13] = "WEEKDAYS",
}
local errorCodes = {
  [0] = "NONE", [2] = "INVALID STRING ID", [3] = "INVALID OBJECT ID", [4] = "INVALID VARIABLE ID",
  [5] = "VAR CONTENTS OVERFLOW", [6] = "VAR READ ONLY", [7] = "VAR OUT OF LIMITS", [8] = "INVALID LANGUAGE",
}
local elementTypes = {
  [0] = "UNDEFINED", [1] = "OBJECT", [2] = "TEXT", [3] = "VARIABLE", [4] = "EVENT", [5] = "LANGUAGE",
}
local canvasOps = {
  [0x00] = "end", [0x01] = "word", [0x02] = "fontHeight", [0x03] = "textColour", [0x04] = "fillColour",
  [0x05] = "lineColour", [0x06] = "lineWidth", [0x07] = "lineStyle", [0x20] = "text", [0x21] = "label",
  [0x22] = "place", [0x23] = "line",
}
-- Length of each canvas operation, its op byte included (0x21 and 0x23 vary).
local canvasLengths = { [0x01] = 3, [0x02] = 3, [0x03] = 4, [0x04] = 4, [0x05] = 4, [0x06] = 2, [0x07] = 2,
                        [0x20] = 8, [0x22] = 12 }

-- Fixed layouts: field name and width in bytes, as the client's records name
-- them (a third entry names the field where one name has two widths).
local layouts = {
  INFO = { {"infoBytes", -3}, {"objectCount", 3}, {"textCount", 3}, {"variableCount", 3}, {"homeScreen", 3} },
  ERROR_REPORT = { {"errorCode", 4}, {"elementType", 1}, {"elementId", 4} },
  EVENT = { {"target", 3} },
  part = { {"offset", 2}, {"n", 1} },
  GET = { {"firstId", 3}, {"count", 2}, {"reservedId", 3}, {"reservedWord", 2} },
  WRITE_VARIABLE = { {"variableId", 3}, {"offset", 2}, {"n", 2, "chunkLength"} },
  SEND_EVENT = { {"event", 3}, {"source", 3} },
  variable = { {"variableType", 2}, {"access", 1}, {"unitText", 3}, {"minimum", 4}, {"maximum", 4}, {"extra", 4},
               {"length", 2} },
  [2] = { {"style", 2}, {"reserved", 1}, {"reserved16", 2}, {"fontHeight", 2}, {"fillColour", 3},
          {"textColour", 3}, {"frameColour", 3}, {"pressedFillColour", 3}, {"pressedTextColour", 3},
          {"pressedFrameColour", 3}, {"textId", 3}, {"iconId", 3}, {"pressEvent", 3}, {"targetScreen", 3} },
  [3] = { {"itemCount", 2}, {"iconId", 3}, {"titleText", 3}, {"enterEvent", 3}, {"leaveEvent", 3} },
  [5] = { {"colour", 3}, {"lineStyle", 1}, {"lineWidth", 1} },
  [6] = { {"frameless", 2}, {"reserved", 1}, {"reserved16", 2}, {"fontHeight", 2}, {"fillColour", 3},
          {"textColour", 3}, {"frameColour", 3}, {"textId", 3}, {"variableId", 3} },
  [10] = { {"reserved", 1}, {"flags", 1}, {"needleStyle", 1}, {"bandStart", 2}, {"bandEnd", 2},
           {"bandOuterRadius", 2}, {"bandInnerRadius", 2}, {"needleLength", 2}, {"needleHalfWidth", 2},
           {"tickOuterRadius", 2}, {"tickInnerRadius", 2}, {"faceColour", 3}, {"bandColour", 3},
           {"valueColour", 3}, {"needleColour", 3}, {"tickColour", 3}, {"tickStart", 2}, {"tickEnd", 2},
           {"tickCount", 2}, {"tickWidth", 2}, {"variableId", 3}, {"pressEvent", 3} },
  [11] = { {"options", 2}, {"allowedChars", 2}, {"reserved", 1}, {"maxLength", 1}, {"reserved", 1},
           {"titleText", 3}, {"labelText", 3}, {"submitEvent", 3}, {"cancelEvent", 3}, {"okEvent", 3},
           {"errorEvent", 3}, {"nextScreen", 3}, {"errorScreen", 3}, {"passwordLength", 1} },
  [12] = { {"titleText", 3}, {"messageText", 3}, {"iconId", 3}, {"buttonCount", 1} },
  [13] = { {"animation", 2}, {"lockFlags", 2}, {"timeoutSeconds", 2}, {"messageText", 3}, {"unlockText", 3},
           {"unlockEvent", 3}, {"unlockScreen", 3}, {"timeoutEvent", 3}, {"timeoutScreen", 3},
           {"releaseEvent", 3}, {"releaseScreen", 3}, {"enterEvent", 3} },
  screen = { {"childCount", 2}, {"background", 3} },
  placement = { {"objectId", 3}, {"x", 2}, {"y", 2}, {"width", 2}, {"height", 2} },
  popupButton = { {"labelText", 3}, {"event", 3}, {"targetScreen", 3} },
  menuItem = { {"kind", 1} },
}
-- Menu item fields by flag bit, in wire order.
local menuItemFields = { {1, "textId"}, {2, "iconId"}, {4, "event"}, {8, "targetScreen"}, {16, "variableId"} }

local f = {
  messageType = ProtoField.uint16("okt.messageType", "messageType", base.DEC, messageTypes),
  sequence = ProtoField.uint32("okt.sequence", "sequence"),
  requestType = ProtoField.uint16("okt.requestType", "requestType", base.DEC, requestTypes),
  requestCounter = ProtoField.uint32("okt.requestCounter", "requestCounter"),
  id = ProtoField.uint24("okt.id", "id", base.DEC_HEX),
  objectType = ProtoField.uint16("okt.objectType", "type", base.DEC, objectTypes),
  variableType = ProtoField.uint16("okt.variableType", "type", base.DEC, variableTypes),
  errorCode = ProtoField.uint32("okt.errorCode", "errorCode", base.DEC, errorCodes),
  elementType = ProtoField.uint8("okt.elementType", "elementType", base.DEC, elementTypes),
  -- Texts end at their zero byte or with the data.
  text = ProtoField.string("okt.text", "text"),
  label = ProtoField.string("okt.label", "label"),
  bytes = ProtoField.bytes("okt.bytes", "bytes"),
  data = ProtoField.bytes("okt.data", "data"),
  value = ProtoField.bytes("okt.value", "value"),
  password = ProtoField.bytes("okt.password", "password"),
  size = ProtoField.uint16("okt.size", "size"),
  op = ProtoField.uint8("okt.op", "op", base.HEX, canvasOps),
  points = ProtoField.uint8("okt.pointCount", "n"),
  point = ProtoField.bytes("okt.point", "point"),
  kind = ProtoField.uint8("okt.kind", "kind", base.DEC, { [0] = "entry", [1] = "empty row" }),
  itemFlags = ProtoField.uint8("okt.itemFlags", "flags", base.HEX),
  body = ProtoField.bytes("okt.body", "body"),
  characteristicValue = ProtoField.bytes("okt.characteristicValue", "value of the data characteristic"),
}
-- One field for each name of the layouts; its width decides its type. Ids
-- (0xFFFFFF: none) show in hexadecimal too, colours only so.
local function isId(name)
  return name:match("Id$") or name:match("Text$") or name:match("Event$") or name:match("Screen$") or
         name == "event" or name == "source" or name == "target"
end
for _, layout in pairs(layouts) do
  for _, entry in ipairs(layout) do
    local name, width, key = entry[1], entry[2], entry[3] or entry[1]
    if not f[key] then
      local display = base.DEC
      if name:match("Colour$") or name == "background" then display = base.HEX
      elseif isId(name) then display = base.DEC_HEX end
      if width < 0 then f[key] = ProtoField.bytes("okt." .. key, name)
      elseif width == 1 then f[key] = ProtoField.uint8("okt." .. key, name, display)
      elseif width == 2 then f[key] = ProtoField.uint16("okt." .. key, name, display)
      elseif width == 3 then f[key] = ProtoField.uint24("okt." .. key, name, display)
      else f[key] = ProtoField.uint32("okt." .. key, name, display) end
    end
  end
end
for _, entry in ipairs(menuItemFields) do
  if not f[entry[2]] then f[entry[2]] = ProtoField.uint24("okt." .. entry[2], entry[2], base.DEC_HEX) end
end
local fieldList = {}
for _, field in pairs(f) do fieldList[#fieldList + 1] = field end
okt.fields = fieldList

local expertShort = ProtoExpert.new("okt.short", "OKT message shorter than its layout", expert.group.MALFORMED,
                                    expert.severity.ERROR)
local expertInvalid = ProtoExpert.new("okt.invalid", "OKT body the client refuses", expert.group.MALFORMED,
                                      expert.severity.ERROR)
local expertIgnored = ProtoExpert.new("okt.ignored", "OKT message type the client ignores", expert.group.PROTOCOL,
                                      expert.severity.WARN)
local expertExtra = ProtoExpert.new("okt.extra", "Bytes after the OKT layout", expert.group.PROTOCOL,
                                    expert.severity.WARN)
local expertFault = ProtoExpert.new("okt.fault", "The OKT dissector could not read this", expert.group.MALFORMED,
                                    expert.severity.ERROR)
okt.experts = { expertShort, expertInvalid, expertIgnored, expertExtra, expertFault }

local attOpcode = Field.new("btatt.opcode")

-- A reader over a Tvb that stops at the first field that does not fit and says so.
local Reader = {}
Reader.__index = Reader

local function reader(tvb, tree)
  return setmetatable({ tvb = tvb, pos = 0, tree = tree, ok = true }, Reader)
end

function Reader:left() return self.tvb:len() - self.pos end

function Reader:need(n, what)
  if not self.ok then return false end
  if self:left() < n then
    self.ok = false
    self.tree:add_proto_expert_info(expertShort, string.format("%s needs %d bytes at offset %d, %d are left",
                                                               what, n, self.pos, self:left()))
    return false
  end
  return true
end

-- Adds a field of n bytes; returns its value (numbers) or nil when it does not fit.
function Reader:add(field, n, name, tree)
  if not self:need(n, name) then return nil end
  local range = self.tvb(self.pos, n)
  self.pos = self.pos + n
  ;(tree or self.tree):add(field, range)
  if n <= 4 then return range:uint() end
  return range
end

function Reader:layout(layout, tree)
  local values = {}
  for _, entry in ipairs(layout) do
    local name, width = entry[1], entry[2]
    values[name] = self:add(f[entry[3] or name], math.abs(width), name, tree)
    if not self.ok then return nil end
  end
  return values
end

-- Bytes that are counted on the wire; none is fine.
function Reader:blob(field, n, name, tree)
  if n == 0 or not self:need(n, name) then return end
  ;(tree or self.tree):add(field, self.tvb(self.pos, n))
  self.pos = self.pos + n
end

-- A zero-terminated text of at most maxBytes bytes (its zero included).
function Reader:text(field, name, maxBytes, tree)
  if not self:need(1, name) then return nil end
  local n = 0
  local limit = math.min(self:left(), maxBytes or self:left())
  while n < limit do
    n = n + 1
    if self.tvb(self.pos + n - 1, 1):uint() == 0 then break end
  end
  local range = self.tvb(self.pos, n)
  self.pos = self.pos + n
  ;(tree or self.tree):add_packet_field(field, range, ENC_UTF_8)
  return range:string(ENC_UTF_8):match("^[^%z]*")
end

function Reader:rest(field, tree)
  self:blob(field, self:left(), "rest", tree)
end

-- The client refuses the whole body: nothing after this point is read.
local function bad(r, tree, text)
  r.ok = false
  tree:add_proto_expert_info(expertInvalid, text)
end

-- Each returns the body's type, as the info column shows it.
local function objectBody(r, tree)
  local objectType = r:add(f.objectType, 2, "type")
  if not objectType then return end
  local typeName = objectTypes[objectType] or ("type " .. objectType)
  tree:append_text(": " .. typeName)
  if objectType == 1 then
    local v = r:layout(layouts.screen)
    for i = 1, (v and v.childCount or 0) do
      if not r:need(11, "placement") then return end
      local child = tree:add(okt, r.tvb(r.pos, 11), "placement " .. (i - 1))
      r:layout(layouts.placement, child)
    end
  elseif objectType == 3 then
    local v = r:layout(layouts[3])
    for i = 1, (v and v.itemCount or 0) do
      if not r:need(1, "menu item") then return end
      local item = tree:add(okt, r.tvb(r.pos, 1), "item " .. (i - 1))
      local start = r.pos
      local kind = r:add(f.kind, 1, "kind", item)
      if kind == 0 then
        local flags = r:add(f.itemFlags, 1, "flags", item) or 0
        for _, entry in ipairs(menuItemFields) do
          if bit.band(flags, entry[1]) ~= 0 then r:add(f[entry[2]], 3, entry[2], item) end
        end
        if bit.band(flags, 32) ~= 0 then r:text(f.label, "label", 254, item) end
      elseif kind ~= 1 then
        bad(r, item, "menu item kind " .. tostring(kind) .. ": the whole menu is refused")
        return
      end
      if not r.ok then return end
      item:set_len(r.pos - start)
    end
  elseif objectType == 5 then
    r:layout(layouts[5])
    while r.ok do
      local n = r:add(f.points, 1, "group")
      if n == nil or n == 0 then break end
      for _ = 1, n do
        if not r:need(4, "point") then return end
        r:blob(f.point, 4, "point")
      end
    end
  elseif objectType == 7 or objectType == 8 or objectType == 9 or objectType == 15 then
    local size = r:add(f.size, 2, "size")
    if size then r:blob(f.data, size, "picture or data") end
  elseif objectType == 11 then
    local v = r:layout(layouts[11])
    if v then r:blob(f.password, v.passwordLength, "password") end
  elseif objectType == 12 then
    local v = r:layout(layouts[12])
    for i = 1, (v and v.buttonCount or 0) do
      if not r:need(9, "pop-up button") then return end
      local button = tree:add(okt, r.tvb(r.pos, 9), "button " .. (i - 1))
      r:layout(layouts.popupButton, button)
    end
  elseif objectType == 16 then
    local first = true
    while r.ok do
      if not r:need(1, "canvas operation") then return end
      local op = r.tvb(r.pos, 1):uint()
      if op == 0 then
        if first then bad(r, tree, "a canvas program that is empty") end
        r:add(f.op, 1, "op")
        break
      end
      first = false
      local length = canvasLengths[op]
      if op == 0x23 then
        if not r:need(2, "line") then return end
        length = 2 + 4 * r.tvb(r.pos + 1, 1):uint()
      end
      if op == 0x21 then
        if not r:need(5, "label") then return end
        local node = tree:add(f.op, r.tvb(r.pos, 1))
        r.pos = r.pos + 5
        r:text(f.label, "label", nil, node)
      elseif length then
        if not r:need(length, canvasOps[op]) then return end
        local node = tree:add(f.op, r.tvb(r.pos, 1))
        node:set_len(length)
        r.pos = r.pos + length
      else
        bad(r, tree, string.format("canvas op 0x%02X: the program is refused", op))
        return
      end
    end
  elseif layouts[objectType] then
    r:layout(layouts[objectType])
  else
    bad(r, tree, "object type " .. objectType .. " has no body layout")
  end
  return typeName
end

local function variableBody(r, tree)
  local v = r:layout(layouts.variable)
  if not v then return end
  local typeName = variableTypes[v.variableType] or ("type " .. v.variableType)
  tree:append_text(": " .. typeName)
  r:blob(f.value, v.length, "value")
  return typeName
end

-- Bodies sent in parts, put together as they come (first pass), kept by frame.
local parts = {}      -- "object 12" -> ByteArray assembled so far
local assembled = {}  -- frame number -> ByteArray of the whole body

function okt.init()
  parts = {}
  assembled = {}
end

local function part(r, tree, pinfo, kind, id, last)
  local v = r:layout(layouts.part)
  if not v then return end
  local range = nil
  if v.n > 0 then
    if not r:need(v.n, "part bytes") then return end
    range = r.tvb(r.pos, v.n)
  end
  r:blob(f.bytes, v.n, "part bytes")
  if kind == "text" then return end
  local key = kind .. " " .. id
  if not pinfo.visited then
    local whole = parts[key] or ByteArray.new()
    local finish = v.offset + v.n
    if whole:len() < finish then whole:set_size(finish) end  -- new bytes are zero
    for i = 0, v.n - 1 do whole:set_index(v.offset + i, range(i, 1):uint()) end
    parts[key] = whole
    if last then
      assembled[pinfo.number] = whole
      parts[key] = nil
    end
  end
  local whole = last and assembled[pinfo.number]
  if whole and whole:len() > 0 then
    local tvb = whole:tvb("OKT " .. kind .. " body")
    local body = tree:add(f.body, tvb())
    body:set_text(kind .. " body, from its parts (" .. whole:len() .. " bytes)")
    local br = reader(tvb, body)
    local typeName = (kind == "object" and objectBody or variableBody)(br, body)
    if typeName then pinfo.cols.info:append(" (" .. typeName .. ")") end
  end
end

-- Both directions start alike: a type, a counter, then the body of the type.
local function dissect(tvb, pinfo, tree, kind, body)
  local r = reader(tvb, tree)
  local t = r:add(f[kind.typeField], 2, kind.typeField)
  r:add(f[kind.counterField], 4, kind.counterField)
  if not r.ok then return end
  local name = kind.names[t]
  local shown = name or (kind.unknown .. " " .. t)
  pinfo.cols.info = kind.column .. shown
  tree:append_text(", " .. shown)
  if not name then
    tree:add_proto_expert_info(expertIgnored, kind.unknown .. " " .. t .. " " .. kind.ignored)
    return
  end
  body(r, name, pinfo, tree)
  if r.ok and r:left() > 0 then
    tree:add_proto_expert_info(expertExtra, r:left() .. " bytes after the " .. name .. " layout")
  end
end

local messages = { typeField = "messageType", counterField = "sequence", names = messageTypes, column = "OKT ",
                   unknown = "message type", ignored = "is ignored by the client" }
local requests = { typeField = "requestType", counterField = "requestCounter", names = requestTypes,
                   column = "OKT request ", unknown = "request type", ignored = "is not one the client sends" }

local function messageBody(r, name, pinfo, tree)
  if name == "INFO" or name == "ERROR_REPORT" or name == "EVENT" then
    local v = r:layout(layouts[name])
    if v and name == "ERROR_REPORT" then
      pinfo.cols.info:append(": " .. (errorCodes[v.errorCode] or "UNKNOWN") .. " " ..
                             (elementTypes[v.elementType] or "UNKNOWN") .. " " .. v.elementId)
    end
    return
  end
  local id = r:add(f.id, 3, "id")
  if id == nil then return end
  pinfo.cols.info:append(" " .. id)
  if name == "TEXT" then
    local text = r:text(f.text, "text")
    if text then pinfo.cols.info:append(" \"" .. text:gsub("\n", "\\n") .. "\"") end
  elseif name == "OBJECT" or name == "VARIABLE" then
    r:add(f.reserved, 1, "reserved")
    local typeName = (name == "OBJECT" and objectBody or variableBody)(r, tree)
    if typeName then pinfo.cols.info:append(" (" .. typeName .. ")") end
  else
    local kind = (name == "TEXT_PART" and "text") or (name:match("^OBJECT") and "object") or "variable"
    part(r, tree, pinfo, kind, id, name:match("LAST") ~= nil)
  end
end

local function requestBody(r, name, pinfo, tree)
  if name:match("^GET_") and name ~= "GET_INFO" then
    r:layout(layouts.GET)
  elseif name == "WRITE_VARIABLE" then
    local v = r:layout(layouts.WRITE_VARIABLE)
    if v then
      pinfo.cols.info:append(" " .. v.variableId)
      r:blob(f.value, v.n, "value")
    end
  elseif name == "SEND_EVENT" then
    local v = r:layout(layouts.SEND_EVENT)
    if v then
      pinfo.cols.info:append(string.format(" 0x%06X from %d", v.event, v.source))
      r:rest(f.data)
    end
  end
end

function okt.dissector(tvb, pinfo, tree)
  local opcode = attOpcode()
  opcode = opcode and opcode.value
  pinfo.cols.protocol = "OKT"
  local subtree = tree:add(okt, tvb())
  local handle = nil
  if opcode == 0x1B then handle = HANDLE_DATA elseif opcode == 0x12 or opcode == 0x52 then handle = HANDLE_REQUEST end
  if handle == nil then
    -- The data characteristic's value as read at connect: not a message.
    subtree:add(f.characteristicValue, tvb())
    return tvb:len()
  end
  local ok, err = pcall(dissect, tvb, pinfo, subtree, handle == HANDLE_DATA and messages or requests,
                        handle == HANDLE_DATA and messageBody or requestBody)
  if not ok then subtree:add_proto_expert_info(expertFault, tostring(err)) end
  return tvb:len()
end

local handles = DissectorTable.get("btatt.handle")
handles:add(HANDLE_DATA, okt)
handles:add(HANDLE_REQUEST, okt)
