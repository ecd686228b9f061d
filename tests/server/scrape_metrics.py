#!/usr/bin/python3
"""Scrapes a relay's /metrics and checks it as Prometheus would read it: the
status, the content type of text format 0.0.4, every family the relay
promises with its type, and every sample parsed by prometheus_client.
Usage: scrape_metrics.py URL   prints the samples, one `name{labels} value` a line.
As a module: scrape(url) returns {(name, ((label, value), ...)): value}."""
import sys
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

CONTENT_TYPE = "text/plain; version=0.0.4; charset=utf-8"

# Family names as the parser gives them (counters without _total), with types.
FAMILIES = {
    "vorlane_connections_open": "gauge",
    "vorlane_connections_accepted": "counter",
    "vorlane_clients_refused": "counter",
    "vorlane_connections_closed": "counter",
    "vorlane_bytes": "counter",
    "vorlane_connect_failures": "counter",
    "vorlane_lookup_failures": "counter",
    "vorlane_accept_errors": "counter",
    "vorlane_relay_shares": "gauge",
    "vorlane_listening": "gauge",
    "vorlane_log_lines_dropped": "counter",
    "vorlane_build_info": "gauge",
}
CLOSE_REASONS = ["client_closed", "target_closed", "reset", "idle_timeout", "connect_timeout",
                 "connect_failed", "lookup_failed", "stopped"]
REFUSAL_REASONS = ["limit", "not_allowed"]


class ScrapeError(Exception):
    pass


def key(name, **labels):
    return (name, tuple(sorted(labels.items())))


def parse(text):
    """The samples of an exposition, checked against the families above."""
    samples = {}
    types = {}
    for family in text_string_to_metric_families(text):
        types[family.name] = family.type
        for sample in family.samples:
            sample_key = key(sample.name, **sample.labels)
            if sample_key in samples:
                raise ScrapeError(f"sample {sample_key} twice")
            samples[sample_key] = sample.value
    if types != FAMILIES:
        raise ScrapeError(f"families {types}, expected {FAMILIES}")
    expected = [key("vorlane_connections_closed_total", reason=r) for r in CLOSE_REASONS]
    expected += [key("vorlane_clients_refused_total", reason=r) for r in REFUSAL_REASONS]
    expected += [key("vorlane_bytes_total", direction=d) for d in ("up", "down")]
    missing = [k for k in expected if k not in samples]
    if missing:
        raise ScrapeError(f"missing samples {missing}")
    return samples


def scrape(url, timeout=10):
    with urllib.request.urlopen(url, timeout=timeout) as response:
        if response.status != 200:
            raise ScrapeError(f"status {response.status}")
        content_type = response.headers.get("Content-Type")
        if content_type != CONTENT_TYPE:
            raise ScrapeError(f"Content-Type {content_type!r}")
        return parse(response.read().decode("utf-8"))


def main():
    try:
        samples = scrape(sys.argv[1])
    except (ScrapeError, OSError, ValueError) as error:
        sys.exit(f"scrape_metrics: {error}")
    for (name, labels), value in sorted(samples.items()):
        label_text = ",".join(f'{k}="{v}"' for k, v in labels)
        print(f"{name}{{{label_text}}} {value:g}" if labels else f"{name} {value:g}")


if __name__ == "__main__":
    main()
