-- SPDX-License-Identifier: Apache-2.0
-- Wireshark dissector for ZVloader's traffic with zelvaUnit devices:
--   zvupdate  the update protocol on UDP port 69 (it is not TFTP): requests
--             of 23 header bytes (command, count, flags, page, password,
--             the constant 16) and their data, and the device's 23-byte
--             replies; the password is shown masked
--   zvdebug   the device's debug messages on UDP port 9029, plain text
-- Install: copy into Wireshark's plugin folder (the Debian package puts it
-- into /usr/lib/<arch>/wireshark/plugins/), or run
--   tshark -X lua_script:zvloader.lua ...
-- The ports can be changed under Preferences > Protocols.

local HEADER_LEN = 23
local PAGE_LEN = 256
local IMAGE_HEADER_LEN = 8
local IDATA_CLEAR_PAGE = 1829

local commands = {
  [1] = "ACK",
  [2] = "NACK",
  [5] = "DATA",
  [6] = "COMMIT",
  [7] = "GET_MODEL",
}
local nack_codes = {
  [1] = "unknown model",
  [4] = "bad password",
  [6] = "bad CRC",
  [8] = "bad version",
}
local commit_codes = {
  [9] = "main image",
  [11] = "logo or idata block",
  [13] = "HTML pages",
}
local directions = { [0] = "request", [1] = "reply" }

---------------------------------------------------------------------------
-- Update protocol
---------------------------------------------------------------------------
local zvupdate = Proto("zvupdate", "ZVloader update protocol")

local f = {
  direction = ProtoField.uint8("zvupdate.direction", "Direction", base.DEC, directions),
  length = ProtoField.uint16("zvupdate.length", "Datagram length", base.DEC),
  command = ProtoField.uint8("zvupdate.command", "Command", base.DEC, commands),
  count = ProtoField.uint8("zvupdate.count", "Page count", base.DEC),
  commit_code = ProtoField.uint8("zvupdate.commit_code", "Commit code", base.DEC, commit_codes),
  flags = ProtoField.uint8("zvupdate.flags", "Flags", base.HEX),
  flag_first = ProtoField.bool("zvupdate.flags.first", "First packet, carries the image header", 8, nil, 0x80),
  flag_encrypted = ProtoField.bool("zvupdate.flags.encrypted", "Enciphered data", 8, nil, 0x01),
  page = ProtoField.uint16("zvupdate.page", "Page", base.DEC),
  last_page = ProtoField.uint16("zvupdate.last_page", "Last page carried", base.DEC),
  password = ProtoField.string("zvupdate.password", "Password (masked)"),
  wconst = ProtoField.uint16("zvupdate.wconst", "Constant", base.DEC),
  image_header = ProtoField.bytes("zvupdate.image_header", "Image header (enciphered)"),
  data = ProtoField.bytes("zvupdate.data", "Page slots"),
  clearing = ProtoField.bool("zvupdate.clearing", "Old idata clearing"),
  commit_first = ProtoField.uint16("zvupdate.commit.first", "First page", base.DEC),
  commit_end = ProtoField.uint16("zvupdate.commit.end", "End page", base.DEC),
  commit_crc = ProtoField.uint16("zvupdate.commit.crc", "CRC-16", base.HEX),
  model = ProtoField.uint8("zvupdate.model", "Model", base.DEC),
  nack_code = ProtoField.uint8("zvupdate.nack_code", "NACK code", base.DEC, nack_codes),
  byte1 = ProtoField.uint8("zvupdate.byte1", "Byte 1", base.DEC),
  ack_byte1 = ProtoField.uint8("zvupdate.ack_byte1", "Byte 1 (the model, when answering the model query)",
                               base.DEC),
}
zvupdate.fields = f

local e_length = ProtoExpert.new("zvupdate.bad_length", "Not a datagram of the update protocol's lengths",
                                 expert.group.MALFORMED, expert.severity.WARN)
local e_reply_length = ProtoExpert.new("zvupdate.bad_reply_length",
                                       "Not a valid reply: a reply is exactly 23 bytes",
                                       expert.group.MALFORMED, expert.severity.WARN)
local e_wconst = ProtoExpert.new("zvupdate.bad_wconst", "The constant is not 16",
                                 expert.group.PROTOCOL, expert.severity.WARN)
local e_nack = ProtoExpert.new("zvupdate.nack", "The device refused the request",
                               expert.group.RESPONSE_CODE, expert.severity.NOTE)
zvupdate.experts = { e_length, e_reply_length, e_wconst, e_nack }

zvupdate.prefs.port = Pref.uint("Update port", 69, "The devices' UDP update port")

-- The password field, 16 bytes zero-filled: shown only as set or empty,
-- not even its length.
local function masked_password(range)
  if range(0, 1):uint() == 0 then return "(empty)" end
  return "********"
end

local function add_flags(tree, range)
  local item = tree:add(f.flags, range)
  item:add(f.flag_first, range)
  item:add(f.flag_encrypted, range)
  return range:uint()
end

local function dissect_header(tvb, tree)
  tree:add(f.command, tvb(0, 1))
  tree:add(f.password, tvb(5, 16), masked_password(tvb(5, 16)))
  local wconst = tree:add_le(f.wconst, tvb(21, 2))
  if tvb(21, 2):le_uint() ~= 16 then wconst:add_proto_expert_info(e_wconst) end
end

local function dissect_request(tvb, pinfo, tree)
  local length = tvb:len()
  local command = tvb(0, 1):uint()
  if length < HEADER_LEN then
    tree:add(f.command, tvb(0, 1))
    tree:add_proto_expert_info(e_length, "Request shorter than its 23-byte header")
    return "request of " .. length .. " bytes"
  end
  dissect_header(tvb, tree)
  local name = commands[command] or ("command " .. command)

  if command == 7 then
    return "GET_MODEL"
  elseif command == 5 then
    local count = tvb(1, 1):uint()
    local page = tvb(3, 2):le_uint()
    tree:add(f.count, tvb(1, 1))
    local flags = add_flags(tree, tvb(2, 1))
    tree:add_le(f.page, tvb(3, 2))
    if length == HEADER_LEN + PAGE_LEN and page == IDATA_CLEAR_PAGE then
      tree:add(f.clearing, tvb(0, 0), true):set_generated()
      tree:add(f.data, tvb(HEADER_LEN, PAGE_LEN))
      return string.format("DATA old idata clearing page %d flags 0x%02X", page, flags)
    end
    local data_at = HEADER_LEN
    if length == HEADER_LEN + IMAGE_HEADER_LEN + 4 * PAGE_LEN then
      tree:add(f.image_header, tvb(HEADER_LEN, IMAGE_HEADER_LEN))
      data_at = HEADER_LEN + IMAGE_HEADER_LEN
    elseif length ~= HEADER_LEN + 4 * PAGE_LEN then
      tree:add_proto_expert_info(e_length, "Page data of " .. length .. " bytes (1047, 1055 or 279 expected)")
    end
    if length > data_at then tree:add(f.data, tvb(data_at)) end
    tree:add(f.last_page, tvb(3, 2), (page + count - 1) % 65536):set_generated()
    return string.format("DATA pages %d to %d flags 0x%02X", page, page + count - 1, flags)
  elseif command == 6 then
    tree:add(f.commit_code, tvb(1, 1))
    local flags = add_flags(tree, tvb(2, 1))
    tree:add_le(f.page, tvb(3, 2))
    if length < HEADER_LEN + 6 then
      tree:add_proto_expert_info(e_length, "Commit of " .. length .. " bytes (29 expected)")
      return "COMMIT (short)"
    end
    tree:add_le(f.commit_first, tvb(23, 2))
    tree:add_le(f.commit_end, tvb(25, 2))
    tree:add_le(f.commit_crc, tvb(27, 2))
    return string.format("COMMIT code %d pages %d to %d crc 0x%04X flags 0x%02X",
                         tvb(1, 1):uint(), tvb(23, 2):le_uint(), tvb(25, 2):le_uint() - 1,
                         tvb(27, 2):le_uint(), flags)
  end
  tree:add(f.byte1, tvb(1, 1))
  add_flags(tree, tvb(2, 1))
  tree:add_le(f.page, tvb(3, 2))
  return name
end

local function dissect_reply(tvb, pinfo, tree)
  local length = tvb:len()
  if length ~= HEADER_LEN then
    tree:add_proto_expert_info(e_reply_length, "Not a valid reply: " .. length .. " bytes, 23 wanted")
    if length >= 1 then tree:add(f.command, tvb(0, 1)) end
    return "reply of " .. length .. " bytes (invalid)"
  end
  local command = tvb(0, 1):uint()
  local page = tvb(3, 2):le_uint()
  tree:add(f.command, tvb(0, 1))
  local name = commands[command] or ("command " .. command)
  if command == 2 then
    local code = tvb(1, 1):uint()
    tree:add(f.nack_code, tvb(1, 1)):add_proto_expert_info(e_nack)
    tree:add_le(f.page, tvb(3, 2))
    return string.format("NACK %s page %d", nack_codes[code] or ("code " .. code), page)
  elseif command == 7 then
    tree:add(f.model, tvb(1, 1))
    return string.format("GET_MODEL reply model %d", tvb(1, 1):uint())
  elseif command == 1 then
    tree:add(f.ack_byte1, tvb(1, 1))
    tree:add_le(f.page, tvb(3, 2))
    return string.format("ACK page %d", page)
  end
  tree:add(f.byte1, tvb(1, 1))
  tree:add_le(f.page, tvb(3, 2))
  return name
end

function zvupdate.dissector(tvb, pinfo, tree)
  local length = tvb:len()
  if length == 0 then return 0 end
  pinfo.cols.protocol = "ZVUPDATE"
  local subtree = tree:add(zvupdate, tvb(), "ZVloader update protocol")
  local is_request = pinfo.dst_port == zvupdate.prefs.port
  subtree:add(f.direction, tvb(0, 0), is_request and 0 or 1):set_generated()
  subtree:add(f.length, tvb(0, 0), length):set_generated()
  local info
  if is_request then
    info = dissect_request(tvb, pinfo, subtree)
  else
    info = dissect_reply(tvb, pinfo, subtree)
  end
  subtree:append_text(": " .. info)
  pinfo.cols.info = info
  return length
end

---------------------------------------------------------------------------
-- Debug messages
---------------------------------------------------------------------------
local zvdebug = Proto("zvdebug", "ZVloader debug message")
local fd = {
  text = ProtoField.string("zvdebug.text", "Text"),
  datagram_length = ProtoField.uint16("zvdebug.datagram_length", "Datagram length", base.DEC),
  length = ProtoField.uint16("zvdebug.length", "Text length", base.DEC),
}
zvdebug.fields = fd
local e_long = ProtoExpert.new("zvdebug.too_long", "Longer than the 256 bytes that zvloader reads",
                               expert.group.PROTOCOL, expert.severity.NOTE)
local e_zero = ProtoExpert.new("zvdebug.zero_byte", "A zero byte ends the text that zvloader prints",
                               expert.group.PROTOCOL, expert.severity.NOTE)
zvdebug.experts = { e_long, e_zero }
zvdebug.prefs.port = Pref.uint("Debug port", 9029, "The UDP port the debug messages go to")

-- The text as zvloader prints it: up to the first zero byte, of at most
-- the 256 bytes it reads.
function zvdebug.dissector(tvb, pinfo, tree)
  local length = tvb:len()
  pinfo.cols.protocol = "ZVDEBUG"
  local subtree = tree:add(zvdebug, tvb(), "ZVloader debug message")
  local read = math.min(length, 256)
  local text_length = 0
  while text_length < read and tvb(text_length, 1):uint() ~= 0 do
    text_length = text_length + 1
  end
  local text = ""
  if text_length > 0 then
    text = tvb(0, text_length):string()
    subtree:add(fd.text, tvb(0, text_length))
  else
    subtree:add(fd.text, tvb(0, 0), "")
  end
  subtree:add(fd.datagram_length, tvb(0, 0), length):set_generated()
  subtree:add(fd.length, tvb(0, 0), text_length):set_generated()
  if text_length < read then subtree:add_proto_expert_info(e_zero) end
  if length > 256 then subtree:add_proto_expert_info(e_long) end
  pinfo.cols.info = "Dbg: " .. text:gsub("[%c]", ".")
  return length
end

---------------------------------------------------------------------------
-- Registration: the ports belong to these dissectors, ahead of TFTP on 69.
---------------------------------------------------------------------------
local udp_port = DissectorTable.get("udp.port")
local registered = {}

local function register()
  for proto, port in pairs(registered) do udp_port:remove(port, proto) end
  registered = {}
  udp_port:add(zvupdate.prefs.port, zvupdate)
  registered[zvupdate] = zvupdate.prefs.port
  udp_port:add(zvdebug.prefs.port, zvdebug)
  registered[zvdebug] = zvdebug.prefs.port
end

function zvupdate.prefs_changed() register() end
function zvdebug.prefs_changed() register() end
register()
