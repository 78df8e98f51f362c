"""Mail such as an application under development sends, for the web inbox's pictures.
Usage: web_samples.py SMTP_PORT"""
import os
import smtplib
import sys
from email.message import EmailMessage

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from mail import welcome  # noqa: E402

SAMPLES = [("Shop <orders@shop.example>", "Your order #1042 has shipped", "Tracking number 00340434161094042557."),
           ("Accounts <no-reply@app.example>", "Reset your password", "Use this link within 30 minutes."),
           ("Calendar <calendar@app.example>", "Invitation: Sprint review", "Thursday 14:00-15:00, room Aurora."),
           ("Billing <billing@app.example>", "Invoice INV-2031 for March", "Amount due: EUR 49.00 by 15 April.")]


def samples():
    for sender, subject, text in SAMPLES:
        m = EmailMessage()
        m["From"], m["To"], m["Subject"] = sender, "Dana Developer <dana@example.com>", subject
        m.set_content(text)
        yield m
    yield from welcome()


with smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=60) as smtp:
    for m in samples():
        smtp.send_message(m, from_addr="app@example.com", to_addrs=["dana@example.com"])
