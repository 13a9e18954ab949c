#!/usr/bin/env python3
"""Reads files written by the exporter back with mido, an independent reader, and checks that
mido's own writer gives the same bytes for the same messages.

    mido_check.py <smf_export_messages executable>
"""
import os
import random
import subprocess
import sys
import tempfile

import mido


def export(tool, folder, name, messages):
    """Runs our exporter over messages (lists of data bytes, without F0 and F7)."""
    source = os.path.join(folder, name + '.syx')
    with open(source, 'wb') as out:
        for data in messages:
            out.write(bytes([0xF0] + data + [0xF7]))
    target = os.path.join(folder, name + '.mid')
    subprocess.run([tool, source, target], check=True)
    return target


def check_read_back(path, messages):
    midi = mido.MidiFile(path)
    assert midi.type == 0, midi.type
    assert midi.ticks_per_beat == 48, midi.ticks_per_beat
    assert len(midi.tracks) == 1, len(midi.tracks)
    events = []
    tick = 0
    for message in midi.tracks[0]:
        tick += message.time
        events.append((tick, message))
    assert len(events) == len(messages) + 1, (len(events), len(messages))
    for k, (data, (tick, message)) in enumerate(zip(messages, events)):
        assert message.type == 'sysex', (k, message.type)
        assert list(message.data) == data, k
        assert tick == 96 * (k + 1), (k, tick)
    tick, last = events[-1]
    assert last.type == 'end_of_track', last.type
    assert tick == 96 * len(messages) + 48, tick


def check_same_as_mido(path, messages, folder, name):
    track = mido.MidiTrack([mido.Message('sysex', data=data, time=96) for data in messages])
    track.append(mido.MetaMessage('end_of_track', time=48))
    midi = mido.MidiFile(type=0, ticks_per_beat=48)
    midi.tracks.append(track)
    theirs = os.path.join(folder, name + '-mido.mid')
    midi.save(theirs)
    with open(path, 'rb') as ours_file, open(theirs, 'rb') as theirs_file:
        ours, expected = ours_file.read(), theirs_file.read()
    assert ours == expected, f'{name}: {len(ours)} bytes against mido\'s {len(expected)}'


def main():
    tool = sys.argv[1]
    rng = random.Random(6)

    def data(stored_length):
        return [rng.randrange(0x80) for _ in range(stored_length - 1)]

    cases = {
        'gm-system-on': [[0x7E, 0x7F, 0x09, 0x01]],
        # Stored lengths at every change of the length field's size.
        'length-classes': [data(n) for n in (1, 127, 128, 16383, 16384, 65535)],
        'thousand-short': [data(rng.randrange(1, 300)) for _ in range(1000)],
    }
    with tempfile.TemporaryDirectory() as folder:
        for name, messages in cases.items():
            path = export(tool, folder, name, messages)
            check_read_back(path, messages)
            check_same_as_mido(path, messages, folder, name)
            print(f'{name}: {len(messages)} messages read back and equal to mido\'s file')


if __name__ == '__main__':
    main()
