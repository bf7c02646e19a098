-- GIFTS gifts sent at once, one per connection (run with as many connections
-- and one thread): each connection sends one gift, then nothing until the
-- last reply has come, when the run stops. The figures go out as one JSON line.
local ffi = require("ffi")
ffi.cdef [[
  struct timespec { long tv_sec; long tv_nsec; };
  int clock_gettime(int clock, struct timespec *tp);
]]
local function now_us()
  local t = ffi.new("struct timespec")
  ffi.C.clock_gettime(1, t) -- CLOCK_MONOTONIC
  return tonumber(t.tv_sec) * 1000000 + tonumber(t.tv_nsec) / 1000
end

local total = tonumber(os.getenv("GIFTS"))
local sent, answered, wrong = 0, 0, 0
local first_sent, last_answered = 0, 0
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.body = "giftName=" .. (os.getenv("GIFT") or "Rose")

delay = function()
  sent = sent + 1
  if sent == 1 then first_sent = now_us() end
  if sent <= total then return 0 end
  return 600000
end

response = function(status, headers, body)
  answered = answered + 1
  last_answered = now_us()
  if status ~= 200 or not string.find(body, "Key pressed successfully", 1, true) then wrong = wrong + 1 end
  if answered == total then
    wrk.thread:set("answered", answered)
    wrk.thread:set("wrong", wrong)
    wrk.thread:set("last_reply_us", last_answered - first_sent)
    wrk.thread:set("first_sent_us", first_sent)
    wrk.thread:stop()
  end
end

-- The counts live in the connection thread's state; the summary reads them back.
-- Read errors are left out: a storm of one key lasts longer than the server
-- keeps an idle connection open, so it closes those answered early, which wrk
-- counts as read errors; every reply is counted above all the same.
local threads = {}
setup = function(thread) table.insert(threads, thread) end

done = function(summary, latency, requests)
  local t = threads[1]
  local e = summary.errors
  io.write(string.format(
    '{"requests": %d, "answered": %d, "wrong": %d, "last_reply_us": %d, "first_sent_us": %.0f, "errors": %d, "p50_us": %d, "p99_us": %d, "max_us": %d}\n',
    summary.requests, t:get("answered") or 0, t:get("wrong") or 0, t:get("last_reply_us") or 0, t:get("first_sent_us") or 0, e.connect + e.write + e.status + e.timeout,
    latency:percentile(50), latency:percentile(99), latency.max))
end
