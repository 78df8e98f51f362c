// Sends one message with STARTTLS and a login, and prints how the server answered: the failed
// command and its reply, or "sent". Usage: node chaos.js PORT
const nodemailer = require('nodemailer');

const transport = nodemailer.createTransport({
  host: '127.0.0.1',
  port: Number(process.argv[2]),
  secure: false,
  requireTLS: true,
  auth: { user: 'node-app', pass: 'secret' },
  tls: { rejectUnauthorized: false },
});

transport
  .sendMail({ from: 'app@example.com', to: 'user@example.com', subject: 'chaos', text: 'Body' })
  .then(
    () => console.log(JSON.stringify({ sent: true })),
    (error) => console.log(JSON.stringify({ command: error.command, code: error.responseCode, response: error.response })),
  );
