"""Start-up, the configuration file and the first run, seen from outside."""

import http.client
import json
import os
import re
import shutil
import signal
import subprocess

import pytest

from . import harness
from .harness import CONFIG_NAME, PRESSED

BANNERS = ["=== ORBEK CADEAUX / SONS ILLIMITES ===", "=== KORAVEL ==="]
SERVING = ["", "=== Serveur demarre sur le port 5000 ===", "En attente de webhooks...",
           "Page de controle: http://localhost:5000/", ""]
LOAD_FAILED = "Erreur lors du chargement de la configuration"
DEFAULT_CONFIG = os.path.join(os.path.dirname(__file__), "..", "support", "default-config.json")
with open(DEFAULT_CONFIG, encoding="utf-8") as f:  # the default gifts' sounds are not there yet: each is told
    LOADED = ["Configuration chargee: 7 cadeaux configures"] + [f'Attention, cadeau "{name}" : fichier audio non '
                                                               f'trouve : {g["sound"]}' for name, g in sorted(json.load(f)["gifts"].items())]


def test_first_run_asks_for_the_token_writes_the_file_and_serves(run, tmp_path):
    opened = tmp_path.parent / (tmp_path.name + "-opened.txt")
    program = run(stdin_text=b"caf\xe9\r\na b&c\r\n", env={"KORAVEL_OPENED": str(opened)})  # Latin-1: asked again
    program.wait_until_serving()
    harness.wait_until(opened.exists, 30)  # the very first start opens the page in the default browser
    if not harness.under_wine():  # and the opener, ended, is not left a zombie
        harness.wait_until(lambda: open(f"/proc/{program.process.pid}/task/{program.process.pid}/children").read() == "")
    prompt = "Entrez le token de votre compte Koravel : "
    assert program.lines == BANNERS + [
        "Fichier de configuration non trouve. Creation...", "", "=== CONFIGURATION INITIALE ===", prompt + "Ce token "
        "contient des caracteres que le fichier de configuration ne peut pas enregistrer (texte non UTF-8). Tapez-le a "
        "nouveau.", prompt, "Fichier de configuration cree: " + CONFIG_NAME, "",
        "N'oubliez pas de creer un dossier 'sounds' et d'y placer vos fichiers MP3!"] + LOADED + SERVING
    with open(DEFAULT_CONFIG, "rb") as f:
        # Windows' line ends on Windows, so that Notepad shows the lines.
        assert (tmp_path / CONFIG_NAME).read_bytes() == f.read().replace(b"\n", b"\r\n" if harness.under_wine() else b"\n")
    assert os.listdir(tmp_path) == [CONFIG_NAME]
    if not harness.under_wine():  # it holds the token: its owner's alone
        assert os.stat(tmp_path / CONFIG_NAME).st_mode & 0o777 == 0o600
    # Closed while the relay's keep-alive connection is open, and started again at once: the port is had back.
    relay = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=30)
    relay.request("POST", "/webhook?giftName=Rose")
    assert relay.getresponse().read().decode() == PRESSED
    program.stop()
    os.mkdir(tmp_path / "sounds")  # a sound that is a named pipe, opened, would wait for a writer forever
    os.mkfifo(tmp_path / "sounds" / "rose.mp3")
    (tmp_path / (CONFIG_NAME + ".tmp")).write_text("{half")  # left by a save that was ended
    again = run(env={"KORAVEL_OPENED": str(opened)})  # reads the file, asks nothing and opens nothing
    again.wait_until_serving()
    assert again.lines == BANNERS + LOADED + SERVING and sorted(os.listdir(tmp_path)) == [CONFIG_NAME, "sounds"]
    assert harness.post_gift("Rose") == PRESSED and opened.read_text() == "http://localhost:5000/\n"
    # A fault, as the system tells it (under wine, a thread of the program's at an address without code), once the
    # gift's lines are out: the program's last line says so.
    again.wait_for_line("Touche 'g' pressee")
    if harness.under_wine():
        subprocess.run([*os.environ["KORAVEL_FAULT"].split(), harness.program_command()[-1].split("/")[-1]], check=True)
    else:
        os.kill(again.process.pid, signal.SIGSEGV)
    kind = "exception 0xc0000005" if harness.under_wine() else "SIGSEGV"
    assert again.exit_code() != 0 and again.lines[-1].startswith(f"Le programme s'arrete sur une erreur fatale : {kind}")


def test_a_file_that_cannot_be_used_says_why_exits_1_and_is_left_as_it_was(run, tmp_path):
    broken = b'{\n"token": "t",\n"gifts": {"Rose": {"action": "key", "target": "g",}}}'
    (tmp_path / CONFIG_NAME).write_bytes(broken)
    program = run(stdin_text="token\n")
    assert program.exit_code() == 1
    assert program.lines[:2] == BANNERS and program.lines[-1] == LOAD_FAILED and len(program.lines) == 4
    assert "line 3, column" in program.lines[-2], program.lines[-2][:300]
    assert (tmp_path / CONFIG_NAME).read_bytes() == broken


def test_a_port_the_system_keeps_is_told_apart_and_the_file_can_choose_another(run, tmp_path):
    # Forbidden as Windows forbids the ranges Hyper-V, WSL and Docker keep: below the namespace's first unprivileged
    # port, to a program without the right to bind such ports (nor wine's server, which binds for it).
    forbidden, setting = ["setpriv", "--bounding-set", "-net_bind_service"], "/proc/sys/net/ipv4/ip_unprivileged_port_start"
    before, restart_wine = open(setting).read(), "wineserver -k; wineserver -w" if harness.under_wine() else "true"
    try:
        subprocess.run(f"{restart_wine}; echo 5001 > {setting}", shell=True, check=True)
        harness.write_config(tmp_path, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
        refused = run(wrapper=forbidden)
        assert refused.exit_code() == 1 and refused.lines[-2].startswith("Impossible d'ouvrir le port 5000 : ")
        assert refused.lines[-1].startswith("Le systeme reserve ce port (sous Windows, Hyper-V, WSL ou Docker en gardent "
                                            "pour eux : la commande netsh interface ipv4 show excludedportrange")
        harness.write_config(tmp_path, {"token": "t", "port": 5050, "gifts": {"Rose": {"action": "key", "target": "g"}}})
        program = run(wrapper=forbidden)
        program.wait_for_line("Page de controle: http://localhost:5050/", float(os.environ.get("KORAVEL_START_TIMEOUT", "10")))
        assert harness.post_gift("Rose", port=5050) == PRESSED
    finally:
        subprocess.run(f"echo {before.strip()} > {setting}; {restart_wine}", shell=True)


@pytest.mark.skipif(not harness.under_wine(), reason="Linux starts a program neither in a system folder nor in an archive")
def test_started_in_the_system_folder_or_inside_a_zip_it_says_so_and_goes_on(run, tmp_path, monkeypatch):
    exe = tmp_path / "koravel-key-webhook.exe"
    shutil.copyfile(harness.program_command()[-1], exe)
    temporary = subprocess.run("winepath -u \"$(wine cmd /c echo %TEMP% | tr -d '\\r')\"", shell=True,
                               capture_output=True, text=True, check=True).stdout.strip()
    inside = os.path.join(temporary, "Temp1_koravel.zip")  # where Explorer runs a program opened in a zip
    shutil.copytree(tmp_path, inside)
    told = []  # run as administrator from Explorer, it starts in the system folder; opened in the zip, in there
    for cwd, program in ((os.path.join(os.environ["WINEPREFIX"], "drive_c/windows/system32"), exe),
                         (inside, os.path.join(inside, exe.name))):
        monkeypatch.setenv("KORAVEL_PROGRAM", f"wine {program}")
        started = run(cwd=cwd, stdin_text="t\n")
        started.wait_until_serving()
        started.stop()
        told.append(started.lines[2])
    assert told[0] == ("Lance depuis le dossier de Windows (C:\\windows\\system32) : le programme utilise son propre "
                       "dossier, Z:" + str(tmp_path).replace("/", "\\"))
    assert os.path.exists(tmp_path / CONFIG_NAME)
    assert re.fullmatch(r"Attention : le programme tourne depuis un dossier temporaire \(C:\\.*\\Temp1_koravel\.zip\), "
                        r"sans doute ouvert dans le zip ; ce qu'il y enregistre sera perdu\. .*", told[1])
