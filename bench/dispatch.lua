-- One gift after another on each connection; at the end, the figures as one
-- JSON line for the driver. The gift can be named with GIFT in the environment.
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.body = "giftName=" .. (os.getenv("GIFT") or "Personne")

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    '{"requests": %d, "duration_us": %d, "errors": %d, "p50_us": %d, "p99_us": %d, "max_us": %d}\n',
    summary.requests, summary.duration, e.connect + e.read + e.write + e.status + e.timeout,
    latency:percentile(50), latency:percentile(99), latency.max))
end
