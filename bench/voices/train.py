#!/usr/bin/python3
"""Trains the matcher's speech classifier and writes match/speech_model.h.
Reads the training set of training.py (FLAC files with a label per 10 ms
frame), has the program's own analyser say what it sees of each frame
(chronelle-features, so that training and use see the very same numbers),
fits a small network (one hidden layer) by gradient descent, reports its
accuracy on the files held out, and writes its weights as a table in C++,
the features' scaling folded into the first layer. The same inputs give the
same table.
Usage: train.py --features BIN [--data DIR] [--hidden 24] [--output FILE]"""
import argparse
import glob
import os
import subprocess
import sys

import numpy as np

import source

ROOT = source.ROOT
FEATURES = 31   # the program's SpeechFeatures
CONTEXT = 20    # frames: each frame is seen with those this far before and after


def load(tool, data):
    """Every file's features and labels, and which file each frame is from."""
    xs, ys, files = [], [], []
    for i, flac in enumerate(sorted(glob.glob(os.path.join(data, "*.flac")))):
        base = flac[:-5]
        out = base + ".f32"
        if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(tool):
            subprocess.run([tool, flac, out], check=True, stdout=subprocess.DEVNULL)
        x = np.fromfile(out, dtype=np.float32).reshape(-1, FEATURES)
        y = np.load(base + ".npy").astype(np.float32)
        n = min(len(x), len(y))
        xs.append(stacked(x[:n]))
        ys.append(y[:n])
        files.append(np.full(n, i))
    return np.concatenate(xs), np.concatenate(ys), np.concatenate(files)


def stacked(x):
    """Each frame beside the ones CONTEXT before and after, as the program does."""
    n = len(x)
    at = np.arange(n)
    return np.concatenate([x[np.clip(at + k * CONTEXT, 0, n - 1)] for k in (-1, 0, 1)], axis=1)


def sigmoid(z):
    return 1 / (1 + np.exp(-z))


def fit(x, y, hidden, epochs, seed):
    """A network of one hidden layer (ReLU) and a logistic output, by Adam."""
    rng = np.random.default_rng(seed)
    d = x.shape[1]
    params = [rng.normal(0, 1 / np.sqrt(d), (d, hidden)).astype(np.float32), np.zeros(hidden, np.float32),
              rng.normal(0, 1 / np.sqrt(hidden), hidden).astype(np.float32), np.zeros(1, np.float32)]
    m = [np.zeros_like(p) for p in params]
    v = [np.zeros_like(p) for p in params]
    step, rate, batch = 0, 3e-3, 4096
    for epoch in range(epochs):
        order = rng.permutation(len(x))
        for s in range(0, len(order), batch):
            at = order[s:s + batch]
            xb, yb = x[at], y[at]
            h = np.maximum(0, xb @ params[0] + params[1])
            g = (sigmoid(h @ params[2] + params[3]) - yb) / len(yb)
            gh = np.outer(g, params[2]) * (h > 0)
            grads = [xb.T @ gh, gh.sum(0), h.T @ g, np.array([g.sum()], np.float32)]
            step += 1
            for i, (p, gr) in enumerate(zip(params, grads)):
                m[i] = 0.9 * m[i] + 0.1 * gr
                v[i] = 0.999 * v[i] + 0.001 * gr * gr
                p -= rate * (m[i] / (1 - 0.9 ** step)) / (np.sqrt(v[i] / (1 - 0.999 ** step)) + 1e-8)
        rate *= 0.8
    return params


def predict(params, x):
    return sigmoid(np.maximum(0, x @ params[0] + params[1]) @ params[2] + params[3])


def report(name, p, y):
    said = p > 0.5
    print("%s: %d frames, right %.1f %%, speech found %.1f %%, other sound called speech %.1f %%, "
          "correlation %.3f" % (name, len(y), 100 * (said == y).mean(), 100 * said[y == 1].mean(),
                                100 * said[y == 0].mean(), np.corrcoef(p, y)[0, 1]))


def table(values):
    return ", ".join("%.7gf" % v for v in values)


def write(path, params, mean, spread, hidden, summary):
    """The header, with the scaling folded in: w (x - mean) / spread = (w / spread) x - w mean / spread."""
    w1 = params[0] / spread[:, None]
    b1 = params[1] - (mean / spread) @ params[0]
    rows = ["    {%s}," % table(w1[i]) for i in range(w1.shape[0])]
    text = ["// The speech classifier's weights, written by bench/voices/train.py from",
            "// the training set of bench/voices/training.py: do not edit by hand.",
            "// " + summary,
            "#pragma once", "", "namespace chronelle {", "",
            "constexpr int SpeechFeatures = %d;" % FEATURES,
            "constexpr int SpeechContext = %d;  // frames before and after" % CONTEXT,
            "constexpr int SpeechHidden = %d;" % hidden, "",
            "constexpr float SpeechWeights1[3 * SpeechFeatures][SpeechHidden] = {"] + rows + [
            "};",
            "constexpr float SpeechBias1[SpeechHidden] = {%s};" % table(b1),
            "constexpr float SpeechWeights2[SpeechHidden] = {%s};" % table(params[2]),
            "constexpr float SpeechBias2 = %.7gf;" % params[3][0], "", "}  // namespace chronelle", ""]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(text))
    source.formatted(path)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--features", required=True, metavar="BIN", help="the chronelle-features program")
    p.add_argument("--data", default=os.path.join(ROOT, "build-voices", "training"),
                   help="training.py's output (default build-voices/training)")
    p.add_argument("--hidden", type=int, default=24)
    p.add_argument("--epochs", type=int, default=10)
    p.add_argument("--output", default=os.path.join(ROOT, "match", "speech_model.h"))
    o = p.parse_args(argv)
    x, y, files = load(o.features, o.data)
    mean, spread = x.mean(0), x.std(0) + 1e-6
    xn = (x - mean) / spread
    held = files % 5 == 0
    params = fit(xn[~held], y[~held], o.hidden, o.epochs, seed=1)
    report("files held out", predict(params, xn[held]), y[held])
    params = fit(xn, y, o.hidden, o.epochs, seed=1)
    p_all = predict(params, xn)
    report("all files", p_all, y)
    summary = "%d min of training sound, %d hidden units; %.1f %% of its frames right" % (
        len(y) / 6000, o.hidden, 100 * ((p_all > 0.5) == y).mean())
    write(o.output, params, mean, spread, o.hidden, summary)
    print("wrote %s" % o.output)


if __name__ == "__main__":
    main(sys.argv[1:])
