-- wrk script for scripts/bench-collect: each thread posts its share of
-- events, each with a request id of its own, then only asks GET /stats
-- (whose answer is not counted) until every one of its events has been
-- answered, and stops. So the count is exact: no event is left in flight.
--   wrk -s collect_post.lua URL -- PER_THREAD TEMPLATE DONE_FOLDER
-- wrk runs for the whole of its -d: each thread that is through leaves a
-- file in DONE_FOLDER, and the caller interrupts wrk (SIGINT) once all are
-- there, which makes it print its results.
-- TEMPLATE is a document whose request id ends in XXXXXXXXXXXX.
-- wrk asks the first thread for one request before it connects, to see how
-- many it holds, and throws it away: every thread's first request is a GET,
-- so that no event is counted as sent that never was.
local ffi = require("ffi")
ffi.cdef [[
  struct qzr_timeval { long tv_sec; long tv_usec; };
  int gettimeofday(struct qzr_timeval* tv, void* tz);
]]
local function now_us()
  local tv = ffi.new("struct qzr_timeval")
  ffi.C.gettimeofday(tv, nil)
  return tonumber(tv.tv_sec) * 1000000 + tonumber(tv.tv_usec)
end

local threads = {}
local next_id = 0

function setup(thread)
  next_id = next_id + 1
  thread:set("tid", next_id)
  table.insert(threads, thread)
end

function init(args)
  quota = tonumber(args[1])
  done_folder = args[3]
  local f = assert(io.open(args[2], "rb"))
  local template = f:read("*a"):gsub("\n$", "")
  f:close()
  local at = assert(template:find("XXXXXXXXXXXX", 1, true), "no request id to fill in")
  head, tail = template:sub(1, at - 1), template:sub(at + 12)
  sent, acked, failed = 0, 0, 0
  headers = { ["Content-Type"] = "application/json" }
  stats = wrk.format("GET", "/stats")
  first = true
end

function request()
  if first then
    first = false
    return stats
  end
  if sent < quota then
    if sent == 0 then began = now_us() end
    sent = sent + 1
    return wrk.format("POST", wrk.path, headers, head .. string.format("%04x%08x", tid, sent) .. tail)
  end
  return stats
end

function response(status, _, body)
  if status == 200 and body == "" then
    acked = acked + 1
  elseif not (status == 200 and body:sub(1, 1) == "{") then
    failed = failed + 1
  end
  if acked + failed >= quota then
    ended = now_us()
    local mark = assert(io.open(done_folder .. "/" .. tid, "w"))
    mark:close()
    wrk.thread:stop()
  end
end

-- Once a thread has sent its share, its connections only wait.
function delay()
  if sent >= quota then return 20 end
  return 0
end

function done(summary, latency, _)
  -- The time is taken from the first event sent to the last answered.
  local a, f, first_us, last_us = 0, 0, nil, nil
  for _, t in ipairs(threads) do
    a = a + t:get("acked")
    f = f + t:get("failed")
    local b, e = t:get("began"), t:get("ended") or now_us()
    if b and (not first_us or b < first_us) then first_us = b end
    if not last_us or e > last_us then last_us = e end
  end
  local e = summary.errors
  io.write(string.format("RESULT acked=%d failed=%d duration_us=%d p50_us=%d p99_us=%d socket_errors=%d\n",
    a, f, last_us - (first_us or last_us), latency:percentile(50), latency:percentile(99),
    e.connect + e.read + e.write + e.timeout))
end
