-- One machine-readable line per wrk run, so http_bench.sh does not have to
-- parse wrk's human units (us/ms/s, k/M). Latencies are in microseconds.
done = function(summary, latency, requests)
   local e = summary.errors
   io.write(string.format(
      "RESULT requests=%d duration_us=%d bytes=%d p50_us=%d p99_us=%d max_us=%d " ..
      "connect=%d read=%d write=%d status=%d timeout=%d\n",
      summary.requests, summary.duration, summary.bytes,
      latency:percentile(50), latency:percentile(99), latency.max,
      e.connect, e.read, e.write, e.status, e.timeout))
end
