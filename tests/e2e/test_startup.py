"""Start-up, the configuration file and the first run, seen from outside."""

import http.client
import os
import socket
import subprocess

import pytest

import harness
from harness import CONFIG_NAME

BANNERS = ["=== ORBEK CADEAUX / SONS ILLIMITES ===", "=== KORAVEL ==="]
SERVING = ["", "=== Serveur demarre sur le port 5000 ===", "En attente de webhooks...", ""]
LOAD_FAILED = "Erreur lors du chargement de la configuration"


def expected_default_file(token):
    base = "https://win-counter.example/addwinv2.php?"
    gifts = [
        ("Coeur sur toi", "key", "sounds/coeur.mp3", "g", 100),
        ("Drift en voiture", "webhook", "sounds/drift.mp3", base + "win=10&token=" + token, 100),
        ("Gants de boxe dores", "key", "sounds/boxe.mp3", "n", 90),
        ("Gerry la girafe", "webhook", "sounds/girafe.mp3", base + "win=5&token=" + token, 100),
        ("Rose", "key", "sounds/rose.mp3", "g", 100),
        ("TikTok", "key", "sounds/tiktok.mp3", "space", 80),
        ("Tu es incroyable", "webhook", "sounds/incroyable.mp3", base + "win=1&token=" + token, 100),
    ]
    lines = ["{", '    "gifts": {']
    for i, (name, action, sound, target, volume) in enumerate(gifts):
        lines += [
            f'        "{name}": {{',
            f'            "action": "{action}",',
            f'            "sound": "{sound}",',
            f'            "target": "{target}",',
            f'            "volume": {volume}',
            "        }" + ("," if i < len(gifts) - 1 else ""),
        ]
    lines += ["    },", f'    "token": "{token}"', "}"]
    return harness.line_end().join(lines).encode("utf-8")


def test_first_run_asks_for_the_token_writes_the_file_and_serves(run, folder):
    program = run(stdin_text="my token&x=1\n")
    program.wait_until_serving()
    assert program.lines == BANNERS + [
        "Fichier de configuration non trouve. Creation...",
        "",
        "=== CONFIGURATION INITIALE ===",
        "Entrez le token de votre compte Koravel : ",
        "Fichier de configuration cree: " + CONFIG_NAME,
        "",
        "N'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!",
        "Configuration chargee: 7 cadeaux configures",
    ] + SERVING
    with open(os.path.join(folder, CONFIG_NAME), "rb") as f:
        assert f.read() == expected_default_file("my token&x=1")
    assert sorted(os.listdir(folder)) == [CONFIG_NAME]

    assert harness.post_gift("Rose") == '{"message": "Key pressed successfully"}'
    program.wait_for_line("Touche 'g' pressee")
    program.stop()

    # The next start reads the file and asks nothing.
    again = run(stdin_text="")
    again.wait_until_serving()
    assert again.lines == BANNERS + ["Configuration chargee: 7 cadeaux configures"] + SERVING


def test_first_run_at_end_of_input_stores_an_empty_token(run, folder):
    program = run(stdin_text="")
    program.process.stdin.close()
    program.wait_until_serving()
    with open(os.path.join(folder, CONFIG_NAME), "rb") as f:
        assert f.read() == expected_default_file("")


def test_accented_token_is_stored_as_utf8(run, folder):
    program = run(stdin_text="C\u0153ur-\u00e9t\u00e9\n")
    program.wait_until_serving()
    with open(os.path.join(folder, CONFIG_NAME), "rb") as f:
        assert f.read() == expected_default_file("C\u0153ur-\u00e9t\u00e9")


def test_token_that_is_not_utf8_is_asked_again(run, folder):
    program = run(stdin_text=b"caf\xe9\ncafe\n")
    program.wait_until_serving()
    assert any("non UTF-8" in line for line in program.lines)
    with open(os.path.join(folder, CONFIG_NAME), "rb") as f:
        assert f.read() == expected_default_file("cafe")


def test_broken_configuration_says_why_and_exits_1(run, folder):
    with open(os.path.join(folder, CONFIG_NAME), "w") as f:
        f.write('{\n  "token": "t",\n  "gifts": {"Rose": {"action": "key", "target": "g",}}\n}\n')
    program = run()
    assert program.exit_code() == 1
    assert program.lines[:2] == BANNERS
    assert program.lines[-1] == LOAD_FAILED
    assert "line 3, column" in program.lines[-2], program.lines
    assert len(program.lines) == 4
    with open(os.path.join(folder, CONFIG_NAME)) as f:
        assert '"target": "g",}' in f.read()  # left as it was


def test_gift_with_a_wrong_member_is_named(run, folder):
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g", "volume": "80"}}})
    program = run()
    assert program.exit_code() == 1
    assert program.lines[-2:] == ['Le champ "volume" du cadeau "Rose" doit etre un nombre', LOAD_FAILED]


def test_configuration_that_cannot_be_read_is_not_replaced(run, folder):
    os.mkdir(os.path.join(folder, CONFIG_NAME))
    program = run(stdin_text="token\n")
    assert program.exit_code() == 1
    assert program.lines[-1] == LOAD_FAILED
    assert program.lines[-2].startswith("Impossible de lire le fichier de configuration " + CONFIG_NAME + " : ")
    assert "CONFIGURATION INITIALE" not in program.output()
    assert os.path.isdir(os.path.join(folder, CONFIG_NAME))


def test_empty_gift_table_and_arguments_have_no_effect(run, folder):
    harness.write_config(folder, {"token": "t", "gifts": {}})
    program = run(args=["--port", "6000", "whatever"])
    program.wait_until_serving()
    assert "Configuration chargee: 0 cadeaux configures" in program.lines


def test_port_taken_is_reported_and_exits_1(run, folder):
    harness.write_config(folder, {"token": "t"})
    holder = socket.socket()
    # Connections of earlier tests may linger in TIME_WAIT; a listener takes the port all the same.
    holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    holder.bind(("0.0.0.0", harness.PORT))
    holder.listen()
    try:
        program = run()
        assert program.exit_code() == 1
    finally:
        holder.close()
    assert "Serveur demarre" not in program.output()
    assert "En attente de webhooks..." not in program.lines
    assert program.lines[-1].startswith("Impossible d'ouvrir le port 5000 : ")


def test_second_copy_does_not_share_the_port(run, folder, tmp_path_factory):
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
    first = run()
    first.wait_until_serving()
    other = str(tmp_path_factory.mktemp("second"))
    harness.write_config(other, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
    second = run(cwd=other)
    assert second.exit_code() == 1
    assert second.lines[-1].startswith("Impossible d'ouvrir le port 5000 : ")
    # Every gift still reaches the first copy.
    for _ in range(10):
        harness.post_gift("Rose")
    first.wait_for_count("Cadeau recu: Rose", 10)


def test_restart_right_after_closing_with_a_relay_connection_open(run, folder):
    """Closing the window ends the program while the relay's keep-alive
    connection is open; started again at once, it gets the port back."""
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
    first = run()
    first.wait_until_serving()
    relay = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=30)
    relay.request("POST", "/webhook?giftName=Rose")
    assert relay.getresponse().read() == b'{"message": "Key pressed successfully"}'
    first.stop()
    relay.close()
    again = run()
    again.wait_until_serving()
    assert harness.post_gift("Rose") == '{"message": "Key pressed successfully"}'


def test_a_system_without_ipv6_is_served_on_ipv4(run, folder):
    # The suite's network namespace is its own: IPv6 goes away there alone.
    switch = "/proc/sys/net/ipv6/conf/lo/disable_ipv6"
    with open(switch, "w") as f:
        f.write("1")
    try:
        harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
        program = run()
        program.wait_until_serving()
        assert harness.post_gift("Rose") == '{"message": "Key pressed successfully"}'
    finally:
        with open(switch, "w") as f:
            f.write("0")


def _refused_and_left_alone(run, folder, content, cause_part):
    path = os.path.join(folder, CONFIG_NAME)
    with open(path, "wb") as f:
        f.write(content)
    program = run(stdin_text="token\n")
    # Reading 50 MB takes over a minute in a ThreadSanitizer build.
    assert program.exit_code(timeout=240) == 1
    assert program.lines[-1] == LOAD_FAILED
    assert cause_part in program.lines[-2], program.lines[-2][:300]
    assert "CONFIGURATION INITIALE" not in program.output()
    with open(path, "rb") as f:
        assert f.read() == content


def test_files_that_cannot_be_configurations_are_refused_and_left_as_they_were(run, folder):
    whole = expected_default_file("t")
    _refused_and_left_alone(run, folder, whole[: len(whole) // 2], "n'est pas du JSON valide")
    _refused_and_left_alone(run, folder, whole.decode().replace("\n", "\r\n").encode("utf-16"), "UTF-16")
    # 50 MB: a token that never ends.
    big = b'{"token": "' + b"x" * (50 * 1024 * 1024)
    _refused_and_left_alone(run, folder, big, "n'est pas du JSON valide")


@pytest.mark.skipif(harness.under_wine(), reason="wine reports a link loop as a missing file; Windows has none")
def test_configuration_behind_a_symbolic_link_loop_is_left_alone(run, folder):
    path = os.path.join(folder, CONFIG_NAME)
    os.symlink(CONFIG_NAME, path)
    program = run(stdin_text="token\n")
    assert program.exit_code() == 1
    assert program.lines[-2].startswith("Impossible de lire le fichier de configuration " + CONFIG_NAME + " : ")
    assert "CONFIGURATION INITIALE" not in program.output()
    assert os.readlink(path) == CONFIG_NAME


def test_byte_order_mark_is_accepted(run, folder):
    with open(os.path.join(folder, CONFIG_NAME), "wb") as f:
        f.write(b"\xef\xbb\xbf" + expected_default_file("t"))
    program = run()
    program.wait_until_serving()
    assert "Configuration chargee: 7 cadeaux configures" in program.lines


def test_first_run_in_a_read_only_folder_leaves_no_file(run, folder):
    # The folder is mounted read-only for the program alone (the tests run as root, which
    # file permissions do not stop).
    read_only = ["unshare", "--mount", "sh", "-c",
                 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" && cd "$0" && exec "$@"',
                 folder]
    if harness.under_wine():
        # Wine's server opens the files for its programs: it must start inside
        # the read-only mount, not go on from an earlier program outside it.
        subprocess.run(["wineserver", "-k"], capture_output=True)
        subprocess.run(["wineserver", "-w"], capture_output=True)
    program = run(stdin_text="token\n", wrapper=read_only)
    assert program.exit_code() == 1
    assert any("Impossible de creer le fichier de configuration" in line for line in program.lines), \
        program.lines
    assert program.lines[-1] == LOAD_FAILED
    assert os.listdir(folder) == []


linux_only = pytest.mark.skipif(harness.under_wine(), reason="Windows always has a keyboard input, and opens "
                                "sound devices one sound at a time")


@linux_only
@pytest.mark.parametrize("display, why_no_keys", [
    ("", "aucun affichage X (la variable DISPLAY est vide) ; il faut une session X11 ou XWayland"),
    (":4242", "impossible de joindre l'affichage X :4242"),
])
def test_without_a_display_or_a_sound_server_gifts_are_served_and_told_why(run, folder, mp3s, display, why_no_keys):
    harness.write_config(folder, {"token": "t", "gifts": {
        "Rose": {"action": "key", "target": "g", "sound": "sounds/rose.mp3"}}})
    os.makedirs(os.path.join(folder, "sounds"))
    with open(os.path.join(folder, "sounds", "rose.mp3"), "wb") as f:
        f.write(mp3s["low"])
    program = run(env={"DISPLAY": display, "PULSE_SERVER": "unix:" + os.path.join(folder, "no-server")})
    program.wait_until_serving()
    no_keys = "Les touches ne pourront pas etre pressees : " + why_no_keys
    no_sound = [line for line in program.lines if line.startswith("Les sons ne pourront pas etre joues : ")]
    assert no_keys in program.lines and len(no_sound) == 1, program.lines
    why_no_sound = no_sound[0].split(" : ", 1)[1]
    assert why_no_sound.startswith("aucun serveur de son PulseAudio ou PipeWire joignable ("), why_no_sound

    program.mark()
    assert harness.post_gift("Rose") == '{"error": "Keys cannot be pressed on this computer"}'
    program.wait_for_line("Touche non pressee: g (" + why_no_keys + ")")
    assert program.lines_since_mark() == [
        "Cadeau recu: Rose",
        "Erreur ouverture audio: " + why_no_sound,
        "Touche non pressee: g (" + why_no_keys + ")",
    ]


@linux_only
def test_a_display_that_goes_away_and_comes_back(run, folder):
    display, name = harness.start_x_display()
    harness.write_config(folder, {"token": "t", "gifts": {"G": {"action": "key", "target": "g"}}})
    program = run(env={"DISPLAY": name})
    try:
        program.wait_until_serving()
        assert harness.post_gift("G") == '{"message": "Key pressed successfully"}'
        display.terminate()
        display.wait()
        assert harness.post_gift("G") == '{"error": "Keys cannot be pressed on this computer"}'
        program.wait_for_line("Touche non pressee: g (la connexion a l'affichage X " + name + " est perdue)")
        display, _ = harness.start_x_display(name)
        assert harness.post_gift("G") == '{"message": "Key pressed successfully"}'
    finally:
        display.kill()
        display.wait()
