// Sends one message the way a production Node application is set up: STARTTLS required, a login.
// Usage: node send.js PORT
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
  .sendMail({
    from: 'app@example.com',
    to: 'user@example.com',
    subject: 'from Nodemailer',
    text: 'Body from Nodemailer',
  })
  .then(() => process.exit(0), (error) => {
    console.error(error);
    process.exit(1);
  });
